#pragma once

#include <QMainWindow>
#include <QSystemTrayIcon>

#include <functional>

#include "settings/settings.h"

class QAction;
class QLabel;
class QListView;
class QMenu;
class QPushButton;

namespace zqn::app {
class MonitorController;
}

namespace zqn::ui {

class DeviceListModel;
class SettingsPanel;

// The monitor's window, tray icon and popup menu. It shows the controller's state and hands the
// user's actions to it; the monitor itself lives in the controller.
class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    using SaveFileChooser =
        std::function<QString(const QString& initialName, const QString& defaultSuffix)>;
    using PageOpener = std::function<void(const QString& nativePath)>;
    using ExitConfirmer = std::function<bool()>;
    using TrayAvailability = std::function<bool()>;

    explicit MainWindow(app::MonitorController& controller, QWidget* parent = nullptr);
    ~MainWindow() override;

    // The deferred start, once the event loop runs: tray icon, auto-start, then show the window
    // or leave it in the tray.
    void presentAfterStartUp();

    // The settings panel's number fields, which are what is written at exit: typed text that was
    // applied or cancelled included; before the panel was first opened, the record's values.
    settings::PanelFields panelFields() const;
    bool isExiting() const { return exiting_; }

    // Gives each popup menu item the enabled state of its button, as before the menu opens.
    void syncMenuWithButtons();

    // Replaceable for tests: the save-file dialog, the shell's open, the exit question and the
    // question whether a tray exists.
    void setSaveFileChooser(SaveFileChooser chooser);
    void setPageOpener(PageOpener opener);
    void setExitConfirmer(ExitConfirmer confirmer);
    void setTrayAvailability(TrayAvailability availability);

public slots:
    void startMonitoring();
    void stopMonitoring();
    void openSettings();
    void applySettings();
    void cancelSettings();
    void openPage();
    void requestExit();

signals:
    // The user confirmed the exit; the receiver shuts the controller down and quits.
    void exitConfirmed();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    QWidget* createTopBar();
    QListView* createDeviceView();
    void createTrayIcon();
    void showState();
    void bringToFront();
    void putAway();
    void onTrayActivated(QSystemTrayIcon::ActivationReason reason);

    app::MonitorController& controller_;
    DeviceListModel* model_ = nullptr;

    QPushButton* startButton_ = nullptr;
    QPushButton* stopButton_ = nullptr;
    QPushButton* pageButton_ = nullptr;
    QPushButton* settingsButton_ = nullptr;
    QLabel* updateTimePanel_ = nullptr;
    QLabel* statusPanel_ = nullptr;
    QListView* deviceView_ = nullptr;
    SettingsPanel* settingsPanel_ = nullptr;

    QSystemTrayIcon* trayIcon_ = nullptr;
    QMenu* popupMenu_ = nullptr;
    QAction* settingsAction_ = nullptr;
    QAction* startAction_ = nullptr;
    QAction* stopAction_ = nullptr;
    QAction* pageAction_ = nullptr;

    PageOpener openPageFile_;
    ExitConfirmer confirmExit_;
    TrayAvailability trayAvailable_;
    bool exiting_ = false;
    bool panelOpened_ = false;
};

} // namespace zqn::ui
