#pragma once

#include <QMainWindow>
#include <QSystemTrayIcon>

#include <functional>

#include "app/monitor_controller.h"
#include "ui/desktop_notices.h"
#include "ui/tray_watch.h"

class QAction;
class QLabel;
class QMenu;
class QPushButton;

namespace zqn::ui {

class DeviceListModel;
class DeviceListPane;
class DeviceListView;
class SettingsPanel;

// The monitor's window, tray icon and popup menu: a view of the controller. Each command is one
// action, shared by its button and its menu item, enabled in one place as the state changes.
class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    using SaveFileChooser =
        std::function<QString(const QString& initialName, const QString& defaultSuffix)>;
    // Both return false when nothing could be started to open it.
    using PageOpener = std::function<bool(const QString& nativePath)>;
    using UrlOpener = std::function<bool(const QUrl& url)>;
    using ExitConfirmer = std::function<bool()>;
    using NameAsker = std::function<std::optional<QString>(const QString& currentName)>;
    using TrayAvailability = std::function<bool()>;

    explicit MainWindow(app::MonitorController& controller, QWidget* parent = nullptr);
    ~MainWindow() override;

    bool isExiting() const { return controller_.isExiting(); }
    // Shows the window, restored, on top.
    void bringToFront();

    // What asks the user or reaches beyond the window, replaceable where nobody is there to answer:
    // the save-file dialog, the shell's open of the page and of a device, the exit question, the
    // rename dialog and the question whether a tray exists.
    void setSaveFileChooser(SaveFileChooser chooser);
    void setPageOpener(PageOpener opener) { openPageFile_ = std::move(opener); }
    void setUrlOpener(UrlOpener opener);
    void setExitConfirmer(ExitConfirmer confirmer) { confirmExit_ = std::move(confirmer); }
    void setNameAsker(NameAsker asker);
    void setTrayAvailability(TrayAvailability availability);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void createActions();
    QWidget* createTopBar();
    void createTrayIcon();

    void showState();
    void showStatus();
    // Nothing could open a page or a device: the status says so until it next changes.
    void tellNoBrowser(const QString& target);
    void onStateChanged(app::MonitorController::State state);
    void present(bool showWindow);
    // Shows the tray icon when a tray is there now, else watches for one.
    bool trayReady();
    void putAway();
    void onTrayActivated(QSystemTrayIcon::ActivationReason reason);

    void openSettings();
    void applySettings();
    void cancelSettings();
    void openPage();
    void requestExit();

    app::MonitorController& controller_;
    DeviceListModel* model_ = nullptr;

    QAction* startAction_ = nullptr;
    QAction* stopAction_ = nullptr;
    QAction* settingsAction_ = nullptr;
    QAction* pageAction_ = nullptr;
    QAction* exitAction_ = nullptr;
    QAction* showAction_ = nullptr;
    QAction* notifyAction_ = nullptr;
    QAction* loginStartAction_ = nullptr;

    QLabel* updateTimePanel_ = nullptr;
    QLabel* statusPanel_ = nullptr;
    DeviceListPane* devicePane_ = nullptr;
    DeviceListView* deviceView_ = nullptr;
    SettingsPanel* settingsPanel_ = nullptr;

    QSystemTrayIcon* trayIcon_ = nullptr;
    QMenu* popupMenu_ = nullptr;

    PageOpener openPageFile_;
    ExitConfirmer confirmExit_;
    TrayWatch trayWatch_;
    DesktopNotices desktopNotices_;
};

} // namespace zqn::ui
