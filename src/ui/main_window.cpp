#include "ui/main_window.h"

#include <QAction>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QUrl>
#include <QVBoxLayout>

#include "app/monitor_controller.h"
#include "ui/device_list_model.h"
#include "ui/error_reporting.h"
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

QPushButton* addButton(QWidget* parent, const char* name, const QString& text, int left, int width)
{
    return place(new QPushButton(text, parent), name, left, 8, width, 25);
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

QAction* addMenuItem(QMenu* menu, const char* name, const QString& text)
{
    QAction* action = menu->addAction(text);
    action->setObjectName(QLatin1String(name));
    return action;
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
    setWindowTitle(QStringLiteral("ZQN LIST Version 1.01"));
    setWindowIcon(QIcon(QStringLiteral(":/zqnlist/zqnlist.png")));

    QFont interfaceFont = font();
    interfaceFont.setFamilies({QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("IPAPGothic")});
    interfaceFont.setPixelSize(12);
    setFont(interfaceFont);

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

    // The HTTP port field too: it is written at exit, and a fixed "80" would overwrite a port
    // put into the settings file by hand.
    settingsPanel_->showPanelFields(settings::panelFieldsFor(controller_.settings()));
    connect(settingsPanel_, &SettingsPanel::applyRequested, this, &MainWindow::applySettings);
    connect(settingsPanel_, &SettingsPanel::cancelRequested, this, &MainWindow::cancelSettings);

    createTrayIcon();

    openPageFile_ = [](const QString& nativePath) {
        QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(nativePath).absoluteFilePath()));
    };
    confirmExit_ = [this] {
        return QMessageBox::question(this, QStringLiteral("ZQN LIST"),
                                     QStringLiteral("終了して宜しいですか？"),
                                     QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes)
               == QMessageBox::Yes;
    };
    trayAvailable_ = &QSystemTrayIcon::isSystemTrayAvailable;

    connect(&controller_, &app::MonitorController::stateChanged, this, &MainWindow::showState);
    connect(&controller_, &app::MonitorController::statusTextChanged, statusPanel_,
            &QLabel::setText);
    connect(&controller_, &app::MonitorController::updateTimeChanged, updateTimePanel_,
            &QLabel::setText);
    connect(&controller_, &app::MonitorController::errorRaised, this, &showErrorMessage);

    statusPanel_->setText(controller_.statusText());
    updateTimePanel_->setText(controller_.updateTime());
    showState();
}

MainWindow::~MainWindow() = default;

QWidget* MainWindow::createTopBar()
{
    auto* bar = new QFrame;
    bar->setObjectName(QStringLiteral("Panel1"));
    bar->setFrameShape(QFrame::NoFrame);
    bar->setFixedHeight(kTopBarHeight);

    startButton_ = addButton(bar, "BitBtn1", QStringLiteral("開始"), 8, 64);
    stopButton_ = addButton(bar, "BitBtn2", QStringLiteral("停止"), 76, 64);
    addLabel(bar, "Label6", QStringLiteral("更新時間"), 152, 8);
    updateTimePanel_ = addWhitePanel(bar, "Panel3", 4);
    addLabel(bar, "Label9", QStringLiteral("状態"), 152, 24);
    statusPanel_ = addWhitePanel(bar, "Panel4", 21);
    pageButton_ = addButton(bar, "BitBtn7", QStringLiteral("HTML"), 418, 48);
    settingsButton_ = addButton(bar, "BitBtn4", QStringLiteral("設定"), 474, 48);
    auto* exitButton = addButton(bar, "BitBtn9", QStringLiteral("終了"), 528, 48);

    setTabOrder(startButton_, stopButton_);
    setTabOrder(stopButton_, pageButton_);
    setTabOrder(pageButton_, settingsButton_);
    setTabOrder(settingsButton_, exitButton);

    connect(startButton_, &QPushButton::clicked, this, &MainWindow::startMonitoring);
    connect(stopButton_, &QPushButton::clicked, this, &MainWindow::stopMonitoring);
    connect(pageButton_, &QPushButton::clicked, this, &MainWindow::openPage);
    connect(settingsButton_, &QPushButton::clicked, this, &MainWindow::openSettings);
    connect(exitButton, &QPushButton::clicked, this, &MainWindow::requestExit);
    return bar;
}

QListView* MainWindow::createDeviceView()
{
    auto* view = new QListView;
    view->setObjectName(QStringLiteral("Memo1"));
    view->setModel(model_);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Sizing every row separately would make a list of 100,000 devices crawl.
    view->setUniformItemSizes(true);
    view->setWordWrap(false);
    view->setTextElideMode(Qt::ElideNone);
    view->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    view->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

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
    return view;
}

void MainWindow::createTrayIcon()
{
    popupMenu_ = new QMenu(this);
    popupMenu_->setObjectName(QStringLiteral("PopupMenu1"));
    settingsAction_ = addMenuItem(popupMenu_, "N2", QStringLiteral("設定(&E)"));
    addMenuSeparator(popupMenu_, "N5");
    startAction_ = addMenuItem(popupMenu_, "N3", QStringLiteral("開始(&G)"));
    stopAction_ = addMenuItem(popupMenu_, "N4", QStringLiteral("停止(&S)"));
    addMenuSeparator(popupMenu_, "N6");
    pageAction_ = addMenuItem(popupMenu_, "html1", QStringLiteral("html接続(&H)"));
    addMenuSeparator(popupMenu_, "N1");
    QAction* exitAction = addMenuItem(popupMenu_, "Close1", QStringLiteral("終了(&X)"));

    connect(popupMenu_, &QMenu::aboutToShow, this, &MainWindow::syncMenuWithButtons);
    connect(settingsAction_, &QAction::triggered, this, &MainWindow::openSettings);
    connect(startAction_, &QAction::triggered, this, &MainWindow::startMonitoring);
    connect(stopAction_, &QAction::triggered, this, &MainWindow::stopMonitoring);
    connect(pageAction_, &QAction::triggered, this, &MainWindow::openPage);
    connect(exitAction, &QAction::triggered, this, &MainWindow::requestExit);

    trayIcon_ = new QSystemTrayIcon(windowIcon(), this);
    trayIcon_->setObjectName(QStringLiteral("TrayIcon1"));
    trayIcon_->setToolTip(QString());
    trayIcon_->setContextMenu(popupMenu_);
    connect(trayIcon_, &QSystemTrayIcon::activated, this, &MainWindow::onTrayActivated);
}

void MainWindow::presentAfterStartUp()
{
    if (trayAvailable_ && trayAvailable_())
        trayIcon_->show();
    controller_.runDeferredStart();
    if (controller_.settings().startHidden)
        putAway();
    else
        show();
}

settings::PanelFields MainWindow::panelFields() const
{
    // The window may be built before the settings are read; until the panel is first opened its
    // number fields can only repeat the record.
    if (!panelOpened_)
        return settings::panelFieldsFor(controller_.settings());
    return settingsPanel_->panelFields();
}

void MainWindow::syncMenuWithButtons()
{
    startAction_->setEnabled(startButton_->isEnabled());
    stopAction_->setEnabled(stopButton_->isEnabled());
    pageAction_->setEnabled(pageButton_->isEnabled());
    settingsAction_->setEnabled(settingsButton_->isEnabled());
}

void MainWindow::setSaveFileChooser(SaveFileChooser chooser)
{
    settingsPanel_->setSaveFileChooser(std::move(chooser));
}

void MainWindow::setPageOpener(PageOpener opener)
{
    openPageFile_ = std::move(opener);
}

void MainWindow::setExitConfirmer(ExitConfirmer confirmer)
{
    confirmExit_ = std::move(confirmer);
}

void MainWindow::setTrayAvailability(TrayAvailability availability)
{
    trayAvailable_ = std::move(availability);
}

void MainWindow::startMonitoring()
{
    // Menu items follow their buttons only when the menu opens; the state decides.
    if (controller_.canStart())
        controller_.start();
}

void MainWindow::stopMonitoring()
{
    if (controller_.canStop())
        controller_.stop();
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
    if (controller_.state() == app::MonitorController::State::SettingsOpen) {
        settingsPanel_->showSettings(controller_.settings());
        panelOpened_ = true;
    }
    showState();
}

void MainWindow::applySettings()
{
    if (controller_.state() != app::MonitorController::State::SettingsOpen)
        return;
    controller_.applySettings(settingsPanel_->editedSettings());
    showState();
}

void MainWindow::cancelSettings()
{
    if (controller_.state() != app::MonitorController::State::SettingsOpen)
        return;
    controller_.cancelSettings();
    showState();
}

void MainWindow::openPage()
{
    const QString path = controller_.existingPagePath();
    if (!path.isEmpty() && openPageFile_)
        openPageFile_(path);
}

void MainWindow::requestExit()
{
    if (exiting_)
        return;
    if (confirmExit_ && !confirmExit_())
        return;
    exiting_ = true;
    emit exitConfirmed();
    close();
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    if (exiting_) {
        trayIcon_->hide();
        event->accept();
        return;
    }
    cancelSettings();
    event->ignore();
    putAway();
}

void MainWindow::showState()
{
    startButton_->setEnabled(controller_.canStart());
    stopButton_->setEnabled(controller_.canStop());
    settingsButton_->setEnabled(controller_.canOpenSettings());

    const bool editing = controller_.state() == app::MonitorController::State::SettingsOpen;
    deviceView_->setVisible(!editing);
    settingsPanel_->setVisible(editing);
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
    if (trayAvailable_ && trayAvailable_())
        hide();
    else
        showMinimized();
}

void MainWindow::onTrayActivated(QSystemTrayIcon::ActivationReason reason)
{
    if (reason == QSystemTrayIcon::Trigger)
        bringToFront();
}

} // namespace zqn::ui
