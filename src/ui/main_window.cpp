#include "ui/main_window.h"

#include <QAction>
#include <QClipboard>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFrame>
#include <QGuiApplication>
#include <QInputDialog>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QStyledItemDelegate>
#include <QUrl>
#include <QVBoxLayout>

#include "ui/device_list_model.h"
#include "ui/error_reporting.h"
#include "ui/login_start.h"
#include "ui/placement.h"
#include "ui/settings_panel.h"

// A static library's resources are dropped by the linker unless something names them.
static void initUiResources()
{
    Q_INIT_RESOURCE(resources);
}

namespace zqn::ui {

namespace {

constexpr int kTopBarHeight = 41;
constexpr int kStatusBarHeight = 19;

// The button runs its action and is enabled exactly when the action is.
QPushButton* addButton(QWidget* parent, const char* name, QAction* action, const QString& text, int left, int width)
{
    auto* button = place(new QPushButton(text, parent), name, left, 8, width, 25);
    button->setEnabled(action->isEnabled());
    QObject::connect(button, &QPushButton::clicked, action, &QAction::trigger);
    QObject::connect(action, &QAction::enabledChanged, button, &QPushButton::setEnabled);
    return button;
}

QAction* makeAction(QObject* parent, const char* name, const QString& text)
{
    auto* action = new QAction(text, parent);
    action->setObjectName(QLatin1String(name));
    return action;
}

QLabel* addWhitePanel(QWidget* parent, const char* name, int top)
{
    auto* panel = place(new QLabel(parent), name, 208, top, 180, 16);
    panel->setAlignment(Qt::AlignCenter);
    panel->setAutoFillBackground(true);
    QPalette colours = panel->palette();
    colours.setColor(QPalette::Window, Qt::white);
    colours.setColor(QPalette::WindowText, Qt::black);
    panel->setPalette(colours);
    return panel;
}

// Every row as wide as the widest line: the view sizes one row for all of them, and a long line
// must still be reachable with the horizontal scroll bar.
class WidestLineDelegate : public QStyledItemDelegate {
public:
    WidestLineDelegate(const DeviceListModel& model, QObject* parent)
        : QStyledItemDelegate(parent), model_(model)
    {
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        const auto columns = static_cast<int>(std::min<std::size_t>(model_.widestLine(), 4096) + 2);
        size.setWidth(std::max(size.width(), columns * option.fontMetrics.horizontalAdvance(QLatin1Char('0'))));
        return size;
    }

private:
    const DeviceListModel& model_;
};

// Device lines change in place and share one size, so a change needs only a repaint; QListView
// would lay out every row again for each change, which a list of 65,536 devices cannot afford.
// A line that grows the widest width is laid out through widestLineGrew.
class DeviceListView : public QListView {
protected:
    void dataChanged(const QModelIndex&, const QModelIndex&, const QList<int>&) override { viewport()->update(); }
};

void addMenuSeparator(QMenu* menu, const char* name)
{
    menu->addSeparator()->setObjectName(QLatin1String(name));
}

} // namespace

MainWindow::MainWindow(app::MonitorController& controller, QWidget* parent)
    : QMainWindow(parent)
    , controller_(controller)
    , model_(new DeviceListModel(controller, this))
{
    static const bool resourcesReady = (initUiResources(), true);
    Q_UNUSED(resourcesReady);

    setObjectName(QStringLiteral("zqnlist01"));
    setWindowTitle(QStringLiteral("ZQN LIST Version 1.01"));
    setWindowIcon(QIcon(QStringLiteral(":/zqnlist/zqnlist.png")));

    QFont interfaceFont = font();
    interfaceFont.setFamilies({QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("IPAPGothic")});
    interfaceFont.setPixelSize(12);
    setFont(interfaceFont);

    createActions();

    auto* central = new QWidget(this);
    auto* column = new QVBoxLayout(central);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(createTopBar());
    deviceView_ = createDeviceView();
    column->addWidget(deviceView_, 1);
    settingsPanel_ = new SettingsPanel(central);
    settingsPanel_->hide();
    column->addWidget(settingsPanel_, 1);
    setCentralWidget(central);
    statusBar()->setFixedHeight(kStatusBarHeight);

    resize(580, 400);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame(QPoint(), size());
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }

    connect(settingsPanel_, &SettingsPanel::applyRequested, this, &MainWindow::applySettings);
    connect(settingsPanel_, &SettingsPanel::cancelRequested, this, &MainWindow::cancelSettings);

    createTrayIcon();

    openPageFile_ = [](const QString& nativePath) {
        QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(nativePath).absoluteFilePath()));
    };
    openUrl_ = [](const QUrl& url) { QDesktopServices::openUrl(url); };
    confirmExit_ = [this] {
        return QMessageBox::question(this, QStringLiteral("ZQN LIST"),
                                     QStringLiteral("終了して宜しいですか？"),
                                     QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes)
               == QMessageBox::Yes;
    };
    askName_ = [this](const QString& currentName) -> std::optional<QString> {
        bool accepted = false;
        const QString name = QInputDialog::getText(this, QStringLiteral("名前の変更"), QStringLiteral("新しい名前:"),
                                                   QLineEdit::Normal, currentName, &accepted);
        return accepted ? std::optional<QString>(name) : std::nullopt;
    };
    trayAvailable_ = &QSystemTrayIcon::isSystemTrayAvailable;

    connect(&controller_, &app::MonitorController::stateChanged, this, &MainWindow::onStateChanged);
    connect(&controller_, &app::MonitorController::statusTextChanged, statusPanel_, &QLabel::setText);
    // The panel is 180 pixels wide and clips a longer text; the tooltip shows all of it.
    connect(&controller_, &app::MonitorController::statusTextChanged, statusPanel_, &QLabel::setToolTip);
    connect(&controller_, &app::MonitorController::updateTimeChanged, updateTimePanel_, &QLabel::setText);
    connect(&controller_, &app::MonitorController::errorRaised, this, &showErrorMessage);
    connect(&controller_, &app::MonitorController::presentationRequested, this, &MainWindow::present);
    connect(&controller_, &app::MonitorController::notifyNewDevicesChanged, notifyAction_, &QAction::setChecked);
    connect(&controller_, &app::MonitorController::noticeRaised, this, [this](const QString& title, const QString& text) {
        if (!desktopNotices_.show(title, text) && trayReady())
            trayIcon_->showMessage(title, text, QSystemTrayIcon::Information);
    });
    connect(&controller_, &app::MonitorController::shuttingDown, this, [this] {
        // Exit writes what the panel's number fields hold, also while it is still open.
        if (controller_.state() == app::MonitorController::State::SettingsOpen)
            controller_.setPanelFields(settingsPanel_->panelFields());
    });
    connect(&controller_, &app::MonitorController::finished, this, [this] {
        trayIcon_->hide();
        close();
    });

    statusPanel_->setText(controller_.statusText());
    statusPanel_->setToolTip(controller_.statusText());
    updateTimePanel_->setText(controller_.updateTime());
    showState();
}

MainWindow::~MainWindow() = default;

void MainWindow::createActions()
{
    settingsAction_ = makeAction(this, "N2", QStringLiteral("設定(&E)"));
    startAction_ = makeAction(this, "N3", QStringLiteral("開始(&G)"));
    stopAction_ = makeAction(this, "N4", QStringLiteral("停止(&S)"));
    pageAction_ = makeAction(this, "html1", QStringLiteral("html接続(&H)"));
    exitAction_ = makeAction(this, "Close1", QStringLiteral("終了(&X)"));
    showAction_ = makeAction(this, "ShowWindow", QStringLiteral("表示"));
    notifyAction_ = makeAction(this, "NotifyNewDevices", QStringLiteral("新しい機器を通知"));
    notifyAction_->setCheckable(true);
    notifyAction_->setChecked(controller_.notifiesNewDevices());
    loginStartAction_ = makeAction(this, "LaunchAtLogin", QStringLiteral("ログイン時に起動"));
    loginStartAction_->setCheckable(true);
    loginStartAction_->setChecked(launchesAtLogin());

    connect(startAction_, &QAction::triggered, &controller_, &app::MonitorController::start);
    connect(stopAction_, &QAction::triggered, &controller_, &app::MonitorController::stop);
    connect(settingsAction_, &QAction::triggered, this, &MainWindow::openSettings);
    connect(pageAction_, &QAction::triggered, this, &MainWindow::openPage);
    connect(exitAction_, &QAction::triggered, this, &MainWindow::requestExit);
    connect(showAction_, &QAction::triggered, this, &MainWindow::bringToFront);
    connect(notifyAction_, &QAction::toggled, &controller_, &app::MonitorController::setNotifyNewDevices);
    // The autostart entry is the only state: the item shows whether it is there.
    connect(loginStartAction_, &QAction::triggered, this, [this](bool on) {
        QString error;
        if (!setLaunchAtLogin(on, &error))
            showErrorMessage(QStringLiteral("ログイン時の起動を変更できません。\n%1").arg(error));
        loginStartAction_->setChecked(launchesAtLogin());
    });
}

QWidget* MainWindow::createTopBar()
{
    auto* bar = new QFrame;
    bar->setObjectName(QStringLiteral("Panel1"));
    bar->setFrameShape(QFrame::NoFrame);
    bar->setFixedHeight(kTopBarHeight);

    auto* startButton = addButton(bar, "BitBtn1", startAction_, QStringLiteral("開始"), 8, 64);
    auto* stopButton = addButton(bar, "BitBtn2", stopAction_, QStringLiteral("停止"), 76, 64);
    addLabel(bar, "Label6", QStringLiteral("更新時間"), 152, 8);
    updateTimePanel_ = addWhitePanel(bar, "Panel3", 4);
    addLabel(bar, "Label9", QStringLiteral("状態"), 152, 24);
    statusPanel_ = addWhitePanel(bar, "Panel4", 21);
    auto* pageButton = addButton(bar, "BitBtn7", pageAction_, QStringLiteral("HTML"), 418, 48);
    auto* settingsButton = addButton(bar, "BitBtn4", settingsAction_, QStringLiteral("設定"), 474, 48);
    auto* exitButton = addButton(bar, "BitBtn9", exitAction_, QStringLiteral("終了"), 528, 48);

    setTabOrder(startButton, stopButton);
    setTabOrder(stopButton, pageButton);
    setTabOrder(pageButton, settingsButton);
    setTabOrder(settingsButton, exitButton);
    return bar;
}

QListView* MainWindow::createDeviceView()
{
    auto* view = new DeviceListView;
    view->setObjectName(QStringLiteral("Memo1"));
    view->setModel(model_);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    // Sizing every row separately would make a list of 100,000 devices crawl.
    view->setUniformItemSizes(true);
    view->setWordWrap(false);
    view->setTextElideMode(Qt::ElideNone);
    view->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    view->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    view->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);

    QPalette colours = view->palette();
    colours.setColor(QPalette::Base, Qt::black);
    colours.setColor(QPalette::Text, Qt::white);
    view->setPalette(colours);

    QFont listFont;
    listFont.setFamilies({QStringLiteral("ＭＳ ゴシック"), QStringLiteral("IPAGothic"),
                          QFontDatabase::systemFont(QFontDatabase::FixedFont).family()});
    listFont.setStyleHint(QFont::TypeWriter);
    listFont.setFixedPitch(true);
    listFont.setPixelSize(15);
    view->setFont(listFont);
    view->setItemDelegate(new WidestLineDelegate(*model_, view));
    connect(model_, &DeviceListModel::widestLineGrew, view, &QListView::doItemsLayout);

    auto* connectAction = makeAction(view, "ConnectDevice", QStringLiteral("接続"));
    auto* copyMacAction = makeAction(view, "CopyMac", QStringLiteral("MACアドレスをコピー"));
    auto* copyIpAction = makeAction(view, "CopyIp", QStringLiteral("IPアドレスをコピー"));
    auto* copyLineAction = makeAction(view, "CopyLines", QStringLiteral("行をコピー"));
    auto* renameAction = makeAction(view, "RenameDevice", QStringLiteral("名前の変更…"));
    // Enter and Ctrl+C are taken before the view's own handling, which would copy only one line.
    view->installEventFilter(this);

    connect(connectAction, &QAction::triggered, this, [this] { openDevice(currentRow()); });
    connect(copyMacAction, &QAction::triggered, this, [this] {
        if (const auto device = controller_.device(currentRow()))
            QGuiApplication::clipboard()->setText(device->mac);
    });
    connect(copyIpAction, &QAction::triggered, this, [this] {
        if (const auto device = controller_.device(currentRow()))
            QGuiApplication::clipboard()->setText(device->ip);
    });
    connect(copyLineAction, &QAction::triggered, this, &MainWindow::copyLines);
    connect(renameAction, &QAction::triggered, this, [this] { renameDevice(currentRow()); });
    connect(view, &QListView::doubleClicked, this, [this](const QModelIndex& index) { openDevice(index.row()); });

    deviceMenu_ = new QMenu(view);
    deviceMenu_->setObjectName(QStringLiteral("DeviceMenu"));
    deviceMenu_->addActions({connectAction, copyMacAction, copyIpAction, copyLineAction});
    deviceMenu_->addSeparator();
    deviceMenu_->addAction(renameAction);
    view->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(view, &QListView::customContextMenuRequested, this, [this, view](const QPoint& at) {
        const QModelIndex index = view->indexAt(at);
        if (!index.isValid())
            return;
        view->setCurrentIndex(index);
        deviceMenu_->popup(view->viewport()->mapToGlobal(at));
    });
    return view;
}

void MainWindow::createTrayIcon()
{
    popupMenu_ = new QMenu(this);
    popupMenu_->setObjectName(QStringLiteral("PopupMenu1"));
    popupMenu_->addAction(settingsAction_);
    addMenuSeparator(popupMenu_, "N5");
    popupMenu_->addAction(startAction_);
    popupMenu_->addAction(stopAction_);
    addMenuSeparator(popupMenu_, "N6");
    popupMenu_->addAction(pageAction_);
    addMenuSeparator(popupMenu_, "N7");
    popupMenu_->addAction(notifyAction_);
    popupMenu_->addAction(loginStartAction_);
    addMenuSeparator(popupMenu_, "N1");
    popupMenu_->addAction(exitAction_);

    connect(popupMenu_, &QMenu::aboutToShow, this, [this] { loginStartAction_->setChecked(launchesAtLogin()); });

    trayIcon_ = new QSystemTrayIcon(windowIcon(), this);
    trayIcon_->setObjectName(QStringLiteral("TrayIcon1"));
    trayIcon_->setToolTip(QString());
    trayIcon_->setContextMenu(popupMenu_);
    connect(trayIcon_, &QSystemTrayIcon::activated, this, &MainWindow::onTrayActivated);
}

void MainWindow::setSaveFileChooser(SaveFileChooser chooser)
{
    settingsPanel_->setSaveFileChooser(std::move(chooser));
}

void MainWindow::setPageOpener(PageOpener opener)
{
    openPageFile_ = std::move(opener);
}

void MainWindow::setUrlOpener(UrlOpener opener)
{
    openUrl_ = std::move(opener);
}

void MainWindow::setExitConfirmer(ExitConfirmer confirmer)
{
    confirmExit_ = std::move(confirmer);
}

void MainWindow::setNameAsker(NameAsker asker)
{
    askName_ = std::move(asker);
}

void MainWindow::setTrayAvailability(TrayAvailability availability)
{
    trayAvailable_ = std::move(availability);
}

void MainWindow::showState()
{
    startAction_->setEnabled(controller_.canStart());
    stopAction_->setEnabled(controller_.canStop());
    settingsAction_->setEnabled(controller_.canOpenSettings());

    const bool editing = controller_.state() == app::MonitorController::State::SettingsOpen;
    deviceView_->setVisible(!editing);
    settingsPanel_->setVisible(editing);
}

void MainWindow::onStateChanged(app::MonitorController::State state)
{
    if (state == app::MonitorController::State::SettingsOpen)
        settingsPanel_->showSettings(controller_.settings());
    showState();
}

bool MainWindow::trayReady()
{
    // Asked at each moment it matters, not once: a tray host may come or go while the program
    // runs, and a window put away without an icon to bring it back would be lost.
    if (!trayAvailable_ || !trayAvailable_())
        return false;
    trayIcon_->show();
    return true;
}

void MainWindow::present(bool showWindow)
{
    trayReady();
    if (showWindow)
        show();
    else
        putAway();
}

void MainWindow::openSettings()
{
    if (!controller_.canOpenSettings())
        return;
    if (isMinimized())
        setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
    controller_.openSettings();
}

void MainWindow::applySettings()
{
    // A character the settings file cannot carry would be saved as another one.
    if (const QString field = settingsPanel_->unencodableField(); !field.isEmpty()) {
        showErrorMessage(QStringLiteral("%1に Shift_JIS で表せない文字があります。").arg(field));
        return;
    }
    controller_.applySettings(settingsPanel_->editedSettings(), settingsPanel_->panelFields());
}

void MainWindow::cancelSettings()
{
    controller_.cancelSettings(settingsPanel_->panelFields());
}

void MainWindow::openPage()
{
    const QString path = controller_.existingPagePath();
    if (!path.isEmpty() && openPageFile_)
        openPageFile_(path);
}

void MainWindow::requestExit()
{
    if (controller_.isExiting())
        return;
    if (confirmExit_ && !confirmExit_())
        return;
    controller_.shutDown();
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == deviceView_ && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->matches(QKeySequence::Copy)) {
            copyLines();
            return true;
        }
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && key->modifiers() == Qt::NoModifier) {
            openDevice(currentRow());
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    if (controller_.isExiting()) {
        event->accept();
        return;
    }
    cancelSettings();
    event->ignore();
    putAway();
}

void MainWindow::bringToFront()
{
    showNormal();
    raise();
    activateWindow();
}

void MainWindow::putAway()
{
    // Without a tray a hidden window could never be brought back.
    if (trayReady())
        hide();
    else
        showMinimized();
}

void MainWindow::onTrayActivated(QSystemTrayIcon::ActivationReason reason)
{
    if (reason == QSystemTrayIcon::Trigger)
        showAction_->trigger();
}

QList<int> MainWindow::selectedRows() const
{
    QList<int> rows;
    for (const QModelIndex& index : deviceView_->selectionModel()->selectedIndexes())
        rows << index.row();
    std::sort(rows.begin(), rows.end());
    return rows;
}

int MainWindow::currentRow() const
{
    const QModelIndex current = deviceView_->currentIndex();
    return current.isValid() ? current.row() : -1;
}

void MainWindow::openDevice(int row)
{
    const QUrl url = controller_.deviceUrl(row);
    if (url.isValid() && openUrl_)
        openUrl_(url);
}

void MainWindow::copyLines()
{
    QStringList lines;
    for (const int row : selectedRows())
        lines << model_->data(model_->index(row)).toString();
    if (!lines.isEmpty())
        QGuiApplication::clipboard()->setText(lines.join(QLatin1Char('\n')));
}

void MainWindow::renameDevice(int row)
{
    const auto device = controller_.device(row);
    if (!device || !askName_)
        return;
    const auto name = askName_(device->name);
    if (name && controller_.renameDevice(row, *name))
        model_->refresh();
}

} // namespace zqn::ui
