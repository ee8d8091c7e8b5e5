#include "ui/device_list_view.h"

#include <QAction>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QStyledItemDelegate>
#include <QVBoxLayout>

#include <algorithm>

#include "app/monitor_controller.h"
#include "storage/cp932_codec.h"
#include "text/cp932.h"
#include "ui/device_list_model.h"
#include "ui/placement.h"

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

} // namespace

DeviceFilterModel::DeviceFilterModel(const app::MonitorController& controller, DeviceListModel& lines, QObject* parent)
    : QSortFilterProxyModel(parent)
    , controller_(controller)
{
    setSourceModel(&lines);
}

void DeviceFilterModel::setText(const QString& text)
{
    filtering_ = !text.isEmpty();
    needle_ = storage::toCp932Exactly(text);
    // A new text is a new layout, not thousands of scattered inserts and removals for the view
    // to follow one by one (which cost a quarter of a second over 65,536 lines).
    invalidate();
}

bool DeviceFilterModel::filterAcceptsRow(int sourceRow, const QModelIndex&) const
{
    if (!filtering_)
        return true;
    const auto& devices = controller_.devices();
    if (!needle_ || sourceRow < 0 || static_cast<std::size_t>(sourceRow) >= devices.count())
        return false;
    return text::containsFoldingAscii(devices.line(static_cast<std::size_t>(sourceRow)), *needle_);
}

DeviceListView::DeviceListView(app::MonitorController& controller, DeviceListModel& lines, QWidget* parent)
    : QListView(parent)
    , controller_(controller)
    , lines_(lines)
    , filter_(new DeviceFilterModel(controller, lines, this))
{
    setObjectName(QStringLiteral("Memo1"));
    setModel(filter_);
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
    auto* findAction = makeAction(this, "FindDevices", QStringLiteral("検索…"));
    findAction->setShortcut(QKeySequence::Find);
    findAction->setShortcutContext(Qt::WindowShortcut);
    addAction(findAction);

    connect(connectAction, &QAction::triggered, this, [this] { openDevice(currentRow()); });
    connect(copyMacAction, &QAction::triggered, this, [this] { copyAddresses(false); });
    connect(copyIpAction, &QAction::triggered, this, [this] { copyAddresses(true); });
    connect(findAction, &QAction::triggered, this, &DeviceListView::findRequested);
    connect(copyLineAction, &QAction::triggered, this, &DeviceListView::copyLines);
    connect(renameAction_, &QAction::triggered, this, [this] { renameDevice(currentRow()); });
    connect(this, &QListView::doubleClicked, this, [this](const QModelIndex& index) { openDevice(sourceRow(index)); });

    menu_ = new QMenu(this);
    menu_->setObjectName(QStringLiteral("DeviceMenu"));
    menu_->addActions({connectAction, copyMacAction, copyIpAction, copyLineAction});
    menu_->addSeparator();
    menu_->addAction(renameAction_);
    menu_->addSeparator();
    menu_->addAction(findAction);
    deviceActions_ = {connectAction, copyMacAction, copyIpAction, copyLineAction};

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
    // A right click inside a selection keeps it, and the menu acts on all of it.
    if (!index.isValid())
        selectionModel()->clear();
    else if (selectionModel()->isSelected(index))
        selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
    else
        setCurrentIndex(index);
    for (QAction* action : std::as_const(deviceActions_))
        action->setEnabled(index.isValid());
    renameAction_->setEnabled(controller_.canRename(currentRow()));
    menu_->popup(event->globalPos());
}

void DeviceListView::addWindowActions(const QList<QAction*>& actions)
{
    menu_->addSeparator();
    menu_->addActions(actions);
}

int DeviceListView::sourceRow(const QModelIndex& index) const
{
    if (!index.isValid())
        return -1;
    return index.model() == filter_ ? filter_->mapToSource(index).row() : index.row();
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
    if (url.isValid() && openUrl_ && !openUrl_(url))
        emit openFailed(url);
}

void DeviceListView::copyLines()
{
    QStringList lines;
    for (const int row : selectedRows())
        lines << lines_.data(lines_.index(row)).toString();
    if (!lines.isEmpty())
        QGuiApplication::clipboard()->setText(lines.join(QLatin1Char('\n')));
}

void DeviceListView::copyAddresses(bool ip)
{
    QList<int> rows = selectedRows();
    if (rows.isEmpty())
        rows << currentRow();
    QStringList addresses;
    for (const int row : rows) {
        if (const auto device = controller_.device(row))
            addresses << (ip ? device->ip : device->mac);
    }
    if (!addresses.isEmpty())
        QGuiApplication::clipboard()->setText(addresses.join(QLatin1Char('\n')));
}

void DeviceListView::renameDevice(int row)
{
    const auto device = controller_.device(row);
    if (!device || !askName_ || !controller_.canRename(row))
        return;
    using Renamed = app::MonitorController::Renamed;
    // A refused name comes back in the dialog, to be mended rather than typed again.
    for (QString offered = device->name;;) {
        const auto name = askName_(offered);
        if (!name)
            return;
        const Renamed outcome = controller_.renameDevice(row, *name);
        if (outcome == Renamed::saved || outcome == Renamed::notSaved)
            lines_.refresh();
        if (outcome != Renamed::badName)
            return;
        offered = *name;
    }
}

DeviceListPane::DeviceListPane(app::MonitorController& controller, DeviceListModel& lines, QWidget* parent)
    : QWidget(parent)
    , view_(new DeviceListView(controller, lines, this))
    , findBar_(new QWidget(this))
    , findEdit_(new QLineEdit(findBar_))
    , findCount_(new QLabel(findBar_))
{
    findBar_->setObjectName(QStringLiteral("FindBar"));
    findEdit_->setObjectName(QStringLiteral("FindEdit"));
    findEdit_->setPlaceholderText(QStringLiteral("検索"));
    findEdit_->setClearButtonEnabled(true);
    findCount_->setObjectName(QStringLiteral("FindCount"));
    auto* row = new QHBoxLayout(findBar_);
    row->setContentsMargins(2, 2, 2, 2);
    row->addWidget(findEdit_, 1);
    row->addWidget(findCount_);
    findBar_->hide();

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(view_, 1);
    column->addWidget(findBar_);

    auto* closeAction = new QAction(this);
    closeAction->setObjectName(QStringLiteral("CloseFind"));
    closeAction->setShortcut(Qt::Key_Escape);
    closeAction->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    addAction(closeAction);
    connect(closeAction, &QAction::triggered, this, &DeviceListPane::closeFind);

    connect(view_, &DeviceListView::findRequested, this, &DeviceListPane::showFind);
    connect(findEdit_, &QLineEdit::textChanged, this, [this](const QString& text) {
        view_->filter().setText(text);
        if (const QModelIndex current = view_->currentIndex(); current.isValid())
            view_->scrollTo(current);
    });
    // Appends, renewals and resets move the count, of the lines shown and of all lines.
    DeviceFilterModel* filter = &view_->filter();
    for (const auto& signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
        connect(filter, signal, this, &DeviceListPane::showCount);
    connect(filter, &QAbstractItemModel::modelReset, this, &DeviceListPane::showCount);
    connect(filter, &QAbstractItemModel::layoutChanged, this, &DeviceListPane::showCount);
    connect(&lines, &QAbstractItemModel::rowsInserted, this, &DeviceListPane::showCount);
}

void DeviceListPane::showFind()
{
    findBar_->show();
    showCount();
    findEdit_->setFocus();
    findEdit_->selectAll();
}

void DeviceListPane::closeFind()
{
    if (findBar_->isHidden())
        return;
    findEdit_->clear();
    findBar_->hide();
    view_->setFocus();
}

void DeviceListPane::showCount()
{
    if (findBar_->isHidden())
        return;
    // Grouped as in "12 / 40,000", whatever the user's locale.
    const QLocale english(QLocale::English);
    const DeviceFilterModel& filter = view_->filter();
    findCount_->setText(QStringLiteral("%1 / %2").arg(english.toString(filter.rowCount()),
                                                      english.toString(filter.sourceModel()->rowCount())));
}

} // namespace zqn::ui
