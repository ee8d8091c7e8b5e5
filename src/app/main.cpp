#include <QTimer>

#include <cstdio>

#include "app/monitor_controller.h"
#include "app/settings_location.h"
#include "app/termination_signals.h"
#include "ui/error_reporting.h"
#include "ui/main_window.h"

int main(int argc, char** argv)
{
    // First of all, so that a logout during start-up still ends the program cleanly.
    zqn::app::installTerminationHandlers();

    zqn::ui::Application app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("zqnlist"));
    QApplication::setQuitOnLastWindowClosed(false); // the window hides; only Exit ends the program

    zqn::app::MonitorController::Options options;
    options.settingsPath = zqn::app::settingsFilePath(QApplication::applicationFilePath());
    zqn::app::MonitorController controller(std::move(options));
    zqn::ui::MainWindow window(controller);

    bool finished = false;
    const auto finish = [&] {
        if (finished)
            return;
        finished = true;
        controller.shutDown(window.panelFields());
        QApplication::exit(0); // quit() would ask the window, which only hides, to close
    };
    QObject::connect(&window, &zqn::ui::MainWindow::exitConfirmed, &app, finish);
    zqn::app::watchTerminationSignals(&app, [&] {
        // A session that logs out waits for nobody to close a message box.
        zqn::ui::setErrorHandler([](const QString& message) { std::fprintf(stderr, "zqnlist: %s\n", qPrintable(message)); });
        finish();
    });

    controller.startUp();
    QTimer::singleShot(1, &window, [&] {
        if (!finished)
            window.presentAfterStartUp();
    });
    return QApplication::exec();
}
