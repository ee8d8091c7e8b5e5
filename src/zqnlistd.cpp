// The service: the same monitor without a window, for a machine without a display. It always
// monitors, writes the page and the CSV file at every interval, tells each change of its status
// on stderr (one line each, for the journal) and never writes its settings file.

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

#include "app/monitor_controller.h"
#include "app/platform.h"
#include "app/settings_location.h"
#include "zqnlist_version.h"

namespace {

enum ExitStatus { kSuccess = 0, kFailure = 1, kUsage = 2 };

void say(const QString& line)
{
    std::fprintf(stderr, "%s\n", line.toUtf8().constData());
    std::fflush(stderr);
}

QString defaultSettingsPath()
{
    return zqn::app::settingsFileBeside(QCoreApplication::applicationFilePath());
}

} // namespace

int main(int argc, char** argv)
{
    zqn::app::installTerminationHandlers();

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("zqnlistd"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ZQN_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Listens for device announcements on UDP and keeps the device list's CSV file and page."));
    const QCommandLineOption settingsOption(
        QStringLiteral("settings"), QStringLiteral("Read the settings from <file> (default: %1).").arg(defaultSettingsPath()),
        QStringLiteral("file"));
    parser.addOption(settingsOption);
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption versionOption = parser.addVersionOption();

    // process() would end a usage error with status 1; a usage error is 2.
    if (!parser.parse(QCoreApplication::arguments())) {
        say(QStringLiteral("zqnlistd: %1").arg(parser.errorText()));
        say(QStringLiteral("Try 'zqnlistd --help' for more information."));
        return kUsage;
    }
    if (parser.isSet(helpOption)) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        return kSuccess;
    }
    if (parser.isSet(versionOption)) {
        std::printf("zqnlistd %s\n", ZQN_VERSION);
        return kSuccess;
    }
    if (!parser.positionalArguments().isEmpty()) {
        say(QStringLiteral("zqnlistd: unexpected argument '%1'").arg(parser.positionalArguments().constFirst()));
        say(QStringLiteral("Try 'zqnlistd --help' for more information."));
        return kUsage;
    }

    zqn::app::MonitorController::Options options;
    options.settingsPath = parser.isSet(settingsOption) ? parser.value(settingsOption) : defaultSettingsPath();
    options.alwaysStart = true;
    options.writeSettingsAtExit = false;
    zqn::app::MonitorController controller(std::move(options));

    int status = kSuccess;
    QString lastStatus;
    // A full list's warning has its own line, at most once a minute; the status proper is told
    // only when it changes.
    QObject::connect(&controller, &zqn::app::MonitorController::statusTextChanged, &app, [&] {
        const QString text = controller.runStatus();
        if (text == lastStatus)
            return;
        lastStatus = text;
        say(text);
    });
    QObject::connect(&controller, &zqn::app::MonitorController::capWarningRaised, &app, &say);
    QObject::connect(&controller, &zqn::app::MonitorController::errorRaised, &app, [](const QString& message) {
        say(QStringLiteral("zqnlistd: %1").arg(QString(message).replace(QLatin1Char('\n'), QLatin1Char(' '))));
    });
    QObject::connect(&controller, &zqn::app::MonitorController::finished, &app, [&] { QCoreApplication::exit(status); });
    QObject::connect(&controller, &zqn::app::MonitorController::presentationRequested, &app, [&] {
        // A service that is not monitoring has nothing to do.
        if (controller.state() != zqn::app::MonitorController::State::Running) {
            status = kFailure;
            controller.shutDown();
        }
    });
    zqn::app::watchTerminationSignals(&app, [&] { controller.shutDown(); });

    controller.startUp();
    return QCoreApplication::exec();
}
