// The window program: the monitor with its window, tray icon and settings panel.

#include <cstdio>

#include "app/monitor_controller.h"
#include "app/monitor_wiring.h"
#include "app/platform.h"
#include "app/settings_location.h"
#include "app/single_instance.h"
#include "storage/file_store.h"
#include "ui/command_line.h"
#include "ui/error_reporting.h"
#include "ui/main_window.h"
#include "ui/translations.h"
#include "zqnlist_app_id.h"

int main(int argc, char** argv)
{
    // First of all, so that a logout during start-up still ends the program cleanly.
    zqn::app::installTerminationHandlers();
    // A rewrite in place takes its room first, so a full disk leaves the old file whole.
    zqn::storage::setSpaceReserver(&zqn::app::reserveFileSpace);

    if (!zqn::app::displayAvailable()) {
        // --help and --version need no display.
        const QCoreApplication core(argc, argv);
        const auto line = zqn::ui::readCommandLine(QCoreApplication::arguments(),
                                                   zqn::app::settingsFilePath(QCoreApplication::applicationFilePath()));
        if (line.exitStatus)
            return *line.exitStatus;
        std::fputs("zqnlist: no display found; zqnlistd runs the monitor without one\n", stderr);
        return 1;
    }

    zqn::ui::Application app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("zqnlist"));
    QGuiApplication::setDesktopFileName(QStringLiteral(ZQN_APP_ID));
    zqn::ui::loadQtJapanese(app);
    QApplication::setQuitOnLastWindowClosed(false); // the window hides; only Exit ends the program

    zqn::app::MonitorController::Options options;
    options.settingsPath = zqn::app::settingsFilePath(QApplication::applicationFilePath());
    // QApplication has taken its own options out of the arguments by now.
    const auto line = zqn::ui::readCommandLine(QApplication::arguments(), options.settingsPath);
    if (line.exitStatus)
        return *line.exitStatus;
    if (!line.settingsPath.isEmpty())
        options.settingsPath = line.settingsPath;
    // A second copy with the same settings file would fight the first for its port and files.
    zqn::app::SingleInstance instance(options.settingsPath);
    if (!instance.claim())
        return 0;
    zqn::app::MonitorController controller(std::move(options));
    zqn::app::DeviceNotices notices;
    zqn::app::connectNotices(controller, notices);
    zqn::app::DeviceJournal journal(zqn::app::journalOrStderr());
    if (zqn::app::loggingToJournal())
        zqn::app::connectJournal(controller, journal);
    zqn::ui::MainWindow window(controller);
    QObject::connect(&instance, &zqn::app::SingleInstance::raiseRequested, &window, &zqn::ui::MainWindow::bringToFront);

    // quit() would ask the window, which only hides, to close.
    QObject::connect(&controller, &zqn::app::MonitorController::finished, &app, [] { QApplication::exit(0); });
    zqn::app::watchTerminationSignals(&app, [&] {
        // A session that logs out waits for nobody to close a message box.
        zqn::ui::setErrorHandler([](const QString& message) { std::fprintf(stderr, "zqnlist: %s\n", qPrintable(message)); });
        controller.shutDown();
        // Also ends an exit already under way that waits on a message box.
        QApplication::exit(0);
    });

    controller.startUp();
    // A signal taken while a start-up message was open has done the exit already; exec() would
    // forget the exit() that came before it and run on.
    if (controller.isExiting())
        return 0;
    QString webProblem; // the status shows it
    const auto web = zqn::app::openWebFront(controller, webProblem);
    return QApplication::exec();
}
