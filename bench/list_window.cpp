// The window program as zqnlist is, with the list's find field open and holding a text, so that
// measure_cap.sh can set what updates cost with a filter next to the same window without one.
//
//   zqn-list-window TEXT      (settings: zqn-list-window.Ini beside it; ends on SIGTERM)

#include <QAction>
#include <QApplication>
#include <QLineEdit>

#include <cstdio>

#include "app/monitor_controller.h"
#include "app/platform.h"
#include "app/settings_location.h"
#include "ui/main_window.h"

int main(int argc, char** argv)
{
    zqn::app::installTerminationHandlers();
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    if (QApplication::arguments().size() != 2) {
        std::fputs("usage: zqn-list-window TEXT\n", stderr);
        return 2;
    }
    const QString typed = QApplication::arguments().at(1);

    zqn::app::MonitorController::Options options;
    options.settingsPath = zqn::app::settingsFileBeside(QApplication::applicationFilePath());
    zqn::app::MonitorController controller(std::move(options));
    zqn::ui::MainWindow window(controller);
    QObject::connect(&controller, &zqn::app::MonitorController::finished, &app, [] { QApplication::exit(0); });
    zqn::app::watchTerminationSignals(&app, [&] { controller.shutDown(); });
    QObject::connect(&controller, &zqn::app::MonitorController::presentationRequested, &window, [&] {
        window.findChild<QAction*>(QStringLiteral("FindDevices"))->trigger();
        window.findChild<QLineEdit*>(QStringLiteral("FindEdit"))->setText(typed);
    });

    controller.startUp();
    return QApplication::exec();
}
