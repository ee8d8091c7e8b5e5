#include "ui/main_window.h"

#include <QAction>
#include <QCloseEvent>
#include <QDir>
#include <QDesktopServices>
#include <QFileInfo>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QUrl>
#include <QVBoxLayout>

#include "app/message_text.h"
#include "ui/device_list_model.h"
#include "ui/device_list_view.h"
#include "ui/error_reporting.h"
#include "ui/login_start.h"
#include "ui/placement.h"
#include "ui/settings_panel.h"
#include "zqnlist_version.h"

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

// A text wider than the panel shows its beginning, which says what happened, not its middle.
void showInPanel(QLabel* panel, const QString& text, const QString& toolTip)
{
    panel->setText(text);
    panel->setToolTip(toolTip);
    const bool fits = panel->fontMetrics().horizontalAdvance(text) <= panel->contentsRect().width();
    panel->setAlignment(fits ? Qt::AlignCenter : Qt::AlignLeft | Qt::AlignVCenter);
}

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
    setWindowTitle(app::programName() + QStringLiteral(" Version " ZQN_VERSION));
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
    devicePane_ = new DeviceListPane(controller_, *model_);
    deviceView_ = devicePane_->view();
    column->addWidget(devicePane_, 1);
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
    // Exit writes what the number fields hold, also while the panel is open.
    connect(settingsPanel_, &SettingsPanel::panelFieldsChanged, &controller_, &app::MonitorController::setPanelFields);

    createTrayIcon();
    // Without a tray the window is the only way to these switches.
    deviceView_->addWindowActions({notifyAction_, loginStartAction_});
    // The entry is a file a user may delete by hand: the tick is read again whenever it is shown.
    for (QMenu* menu : {popupMenu_, deviceView_->findChild<QMenu*>(QStringLiteral("DeviceMenu"))})
        connect(menu, &QMenu::aboutToShow, this, [this] { loginStartAction_->setChecked(launchesAtLogin(controller_.settingsPath())); });

    openPageFile_ = [](const QString& nativePath) {
        return QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(nativePath).absoluteFilePath()));
    };
    deviceView_->setUrlOpener([](const QUrl& url) { return QDesktopServices::openUrl(url); });
    connect(deviceView_, &DeviceListView::openFailed, this, [this](const QUrl& url) { tellNoBrowser(url.toString()); });
    confirmExit_ = [this] {
        return QMessageBox::question(this, app::programName(),
                                     QStringLiteral("終了して宜しいですか？"),
                                     QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes)
               == QMessageBox::Yes;
    };
    // A tray host that starts after the program gets the icon, and the close box hides again.
    connect(&trayWatch_, &TrayWatch::appeared, this, &MainWindow::trayReady);

    connect(&controller_, &app::MonitorController::stateChanged, this, &MainWindow::onStateChanged);
    connect(&controller_, &app::MonitorController::statusTextChanged, this, &MainWindow::showStatus);
    connect(&controller_, &app::MonitorController::updateTimeChanged, updateTimePanel_, &QLabel::setText);
    connect(&controller_, &app::MonitorController::errorRaised, this, &showErrorMessage);
    connect(&controller_, &app::MonitorController::presentationRequested, this, &MainWindow::present);
    connect(&controller_, &app::MonitorController::notifyNewDevicesChanged, notifyAction_, &QAction::setChecked);
    connect(&controller_, &app::MonitorController::noticeRaised, &desktopNotices_, &DesktopNotices::show);
    connect(&desktopNotices_, &DesktopNotices::undelivered, this, [this](const QString& title, const QString& text) {
        if (trayReady())
            trayIcon_->showMessage(title, text, QSystemTrayIcon::Information);
    });
    connect(&controller_, &app::MonitorController::finished, this, [this] {
        trayIcon_->hide();
        close();
    });

    showStatus();
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
    loginStartAction_->setChecked(launchesAtLogin(controller_.settingsPath()));

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
        if (!setLaunchAtLogin(controller_.settingsPath(), on, &error))
            showErrorMessage(QStringLiteral("ログイン時の起動を変更できません。\n%1").arg(error));
        loginStartAction_->setChecked(launchesAtLogin(controller_.settingsPath()));
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


    trayIcon_ = new QSystemTrayIcon(windowIcon(), this);
    trayIcon_->setObjectName(QStringLiteral("TrayIcon1"));
    trayIcon_->setContextMenu(popupMenu_);
    connect(trayIcon_, &QSystemTrayIcon::activated, this, &MainWindow::onTrayActivated);
}

void MainWindow::setSaveFileChooser(SaveFileChooser chooser)
{
    settingsPanel_->setSaveFileChooser(std::move(chooser));
}

void MainWindow::setUrlOpener(UrlOpener opener)
{
    deviceView_->setUrlOpener(std::move(opener));
}

void MainWindow::setNameAsker(NameAsker asker)
{
    deviceView_->setNameAsker(std::move(asker));
}

void MainWindow::setTrayAvailability(TrayAvailability availability)
{
    trayWatch_.setAvailability(std::move(availability));
}

void MainWindow::showState()
{
    startAction_->setEnabled(controller_.canStart());
    stopAction_->setEnabled(controller_.canStop());
    settingsAction_->setEnabled(controller_.canOpenSettings());

    const bool editing = controller_.state() == app::MonitorController::State::SettingsOpen;
    devicePane_->setVisible(!editing);
    settingsPanel_->setVisible(editing);
}

void MainWindow::showStatus()
{
    const QString status = controller_.statusText();
    // The panel is 180 pixels wide and clips a longer text; the tooltip shows all of it, with the
    // system's own words behind it.
    const QString detail = controller_.statusDetail();
    showInPanel(statusPanel_, status, detail.isEmpty() ? status : status + QLatin1Char('\n') + detail);
    // Copies with other settings files look alike in the tray but for this.
    trayIcon_->setToolTip(QStringLiteral("%1: %2\n%3")
                              .arg(app::programName(), status, QDir::toNativeSeparators(QFileInfo(controller_.settingsPath()).absolutePath())));
}

void MainWindow::tellNoBrowser(const QString& target)
{
    const QString words = app::messageText(text::messages::kNoBrowser);
    showInPanel(statusPanel_, words, QStringLiteral("%1: %2").arg(words, target));
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
    if (!trayWatch_.available()) {
        trayWatch_.watch();
        return false;
    }
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
    controller_.applySettings(settingsPanel_->editedSettings());
}

void MainWindow::cancelSettings()
{
    controller_.cancelSettings();
}

void MainWindow::openPage()
{
    const QString path = controller_.existingPagePath();
    if (!path.isEmpty() && openPageFile_ && !openPageFile_(path))
        tellNoBrowser(QDir::toNativeSeparators(path));
}

void MainWindow::requestExit()
{
    if (controller_.isExiting())
        return;
    if (confirmExit_ && !confirmExit_())
        return;
    controller_.shutDown();
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

} // namespace zqn::ui
