#include "ui/device_list_view.h"

#include <QAbstractProxyModel>
#include <QAction>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QInputDialog>
#include <QKeyEvent>
#include <QMenu>
#include <QStyledItemDelegate>

#include <algorithm>

#include "app/monitor_controller.h"
#include "ui/device_list_model.h"

namespace zqn::ui {

namespace {

// Every row as wide as the widest line: the view sizes one row for all of them, and a long line
// must still be reachable with the horizontal scroll bar.
class WidestLineDelegate : public QStyledItemDelegate {
public:
    WidestLineDelegate(const DeviceListModel& lines, QObject* parent)
        : QStyledItemDelegate(parent), lines_(lines)
    {
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        const auto columns = static_cast<int>(std::min<std::size_t>(lines_.widestLine(), 4096) + 2);
        size.setWidth(std::max(size.width(), columns * option.fontMetrics.horizontalAdvance(QLatin1Char('0'))));
        return size;
    }

private:
    const DeviceListModel& lines_;
};

QAction* makeAction(QObject* parent, const char* name, const QString& text)
{
    auto* action = new QAction(text, parent);
    action->setObjectName(QLatin1String(name));
    return action;
}

} // namespace

DeviceListView::DeviceListView(app::MonitorController& controller, DeviceListModel& lines, QWidget* parent)
    : QListView(parent)
    , controller_(controller)
    , lines_(lines)
{
    setObjectName(QStringLiteral("Memo1"));
    setModel(&lines);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    // Sizing every row separately would make a list of 100,000 devices crawl.
    setUniformItemSizes(true);
    setWordWrap(false);
    setTextElideMode(Qt::ElideNone);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);

    QPalette colours = palette();
    colours.setColor(QPalette::Base, Qt::black);
    colours.setColor(QPalette::Text, Qt::white);
    setPalette(colours);

    QFont listFont;
    listFont.setFamilies({QStringLiteral("ＭＳ ゴシック"), QStringLiteral("IPAGothic"),
                          QFontDatabase::systemFont(QFontDatabase::FixedFont).family()});
    listFont.setStyleHint(QFont::TypeWriter);
    listFont.setFixedPitch(true);
    listFont.setPixelSize(15);
    setFont(listFont);
    setItemDelegate(new WidestLineDelegate(lines, this));
    connect(&lines, &DeviceListModel::widestLineGrew, this, &QListView::doItemsLayout);

    auto* connectAction = makeAction(this, "ConnectDevice", QStringLiteral("接続"));
    auto* copyMacAction = makeAction(this, "CopyMac", QStringLiteral("MACアドレスをコピー"));
    auto* copyIpAction = makeAction(this, "CopyIp", QStringLiteral("IPアドレスをコピー"));
    auto* copyLineAction = makeAction(this, "CopyLines", QStringLiteral("行をコピー"));
    renameAction_ = makeAction(this, "RenameDevice", QStringLiteral("名前の変更…"));

    connect(connectAction, &QAction::triggered, this, [this] { openDevice(currentRow()); });
    connect(copyMacAction, &QAction::triggered, this, [this] {
        if (const auto device = controller_.device(currentRow()))
            QGuiApplication::clipboard()->setText(device->mac);
    });
    connect(copyIpAction, &QAction::triggered, this, [this] {
        if (const auto device = controller_.device(currentRow()))
            QGuiApplication::clipboard()->setText(device->ip);
    });
    connect(copyLineAction, &QAction::triggered, this, &DeviceListView::copyLines);
    connect(renameAction_, &QAction::triggered, this, [this] { renameDevice(currentRow()); });
    connect(this, &QListView::doubleClicked, this, [this](const QModelIndex& index) { openDevice(sourceRow(index)); });

    menu_ = new QMenu(this);
    menu_->setObjectName(QStringLiteral("DeviceMenu"));
    menu_->addActions({connectAction, copyMacAction, copyIpAction, copyLineAction});
    menu_->addSeparator();
    menu_->addAction(renameAction_);

    askName_ = [this](const QString& currentName) -> std::optional<QString> {
        bool accepted = false;
        const QString name = QInputDialog::getText(this, QStringLiteral("名前の変更"), QStringLiteral("新しい名前:"),
                                                   QLineEdit::Normal, currentName, &accepted);
        return accepted ? std::optional<QString>(name) : std::nullopt;
    };
}

void DeviceListView::keyPressEvent(QKeyEvent* event)
{
    // The view's own Ctrl+C would copy only the current line.
    if (event->matches(QKeySequence::Copy)) {
        copyLines();
        return;
    }
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && event->modifiers() == Qt::NoModifier) {
        openDevice(currentRow());
        return;
    }
    QListView::keyPressEvent(event);
}

void DeviceListView::contextMenuEvent(QContextMenuEvent* event)
{
    const QModelIndex index = indexAt(event->pos());
    if (!index.isValid())
        return;
    setCurrentIndex(index);
    menu_->popup(event->globalPos());
}

int DeviceListView::sourceRow(const QModelIndex& index) const
{
    if (!index.isValid())
        return -1;
    if (const auto* proxy = qobject_cast<const QAbstractProxyModel*>(index.model()))
        return proxy->mapToSource(index).row();
    return index.row();
}

QList<int> DeviceListView::selectedRows() const
{
    QList<int> rows;
    for (const QModelIndex& index : selectionModel()->selectedIndexes())
        rows << sourceRow(index);
    std::sort(rows.begin(), rows.end());
    return rows;
}

int DeviceListView::currentRow() const
{
    return sourceRow(currentIndex());
}

void DeviceListView::openDevice(int row)
{
    const QUrl url = controller_.deviceUrl(row);
    if (url.isValid() && openUrl_)
        openUrl_(url);
}

void DeviceListView::copyLines()
{
    QStringList lines;
    for (const int row : selectedRows())
        lines << lines_.data(lines_.index(row)).toString();
    if (!lines.isEmpty())
        QGuiApplication::clipboard()->setText(lines.join(QLatin1Char('\n')));
}

void DeviceListView::renameDevice(int row)
{
    const auto device = controller_.device(row);
    if (!device || !askName_)
        return;
    const auto name = askName_(device->name);
    if (name && controller_.renameDevice(row, *name))
        lines_.refresh();
}

} // namespace zqn::ui
