// The service: the same monitor without a window, for a machine without a display. It always
// monitors, writes the page and the CSV file at every interval, tells each change of its status
// on stderr (one line each, for the journal) and never writes its settings file.

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>

#include <cstdio>

#include "app/device_journal.h"
#include "app/message_text.h"
#include "app/monitor_controller.h"
#include "app/monitor_wiring.h"
#include "app/platform.h"
#include "app/settings_location.h"
#include "storage/file_store.h"
#include "zqnlist_version.h"

namespace {

enum ExitStatus { kSuccess = 0, kFailure = 1, kUsage = 2 };

// Under systemd stderr is the journal's stream: a line beginning "<3>" is logged at err priority,
// "<4>" at warning, a plain one at info.
enum class Priority { Info, Warning, Error };
bool toJournal = false;

void say(const QString& line, Priority priority = Priority::Info)
{
    const char* prefix = "";
    if (toJournal)
        prefix = priority == Priority::Error ? "<3>" : priority == Priority::Warning ? "<4>" : "";
    std::fprintf(stderr, "%s%s\n", prefix, line.toUtf8().constData());
    std::fflush(stderr);
}

QString message(std::string_view text)
{
    return zqn::app::messageText(text);
}

QString defaultSettingsPath()
{
    return zqn::app::settingsFileBeside(QCoreApplication::applicationFilePath());
}

} // namespace

int main(int argc, char** argv)
{
    zqn::app::installTerminationHandlers();
    zqn::storage::setSpaceReserver(&zqn::app::reserveFileSpace);
    toJournal = zqn::app::stderrIsJournalStream();

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
    const QCommandLineOption noDeviceLogOption(
        QStringLiteral("no-device-log"), QStringLiteral("Log no entry for new devices and devices that moved."));
    parser.addOption(noDeviceLogOption);
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption versionOption = parser.addVersionOption();

    // process() would end a usage error with status 1; a usage error is 2.
    if (!parser.parse(QCoreApplication::arguments())) {
        say(QStringLiteral("zqnlistd: %1").arg(parser.errorText()), Priority::Error);
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
        say(QStringLiteral("zqnlistd: unexpected argument '%1'").arg(parser.positionalArguments().constFirst()),
            Priority::Error);
        say(QStringLiteral("Try 'zqnlistd --help' for more information."));
        return kUsage;
    }

    zqn::app::MonitorController::Options options;
    options.settingsPath = parser.isSet(settingsOption) ? parser.value(settingsOption) : defaultSettingsPath();
    // A missing default file is a first run; a named one that is not there is a typo in a unit.
    if (const QFileInfo named(options.settingsPath); parser.isSet(settingsOption) && !named.isFile()) {
        namespace messages = zqn::text::messages;
        const QString text = message(!named.exists() ? messages::kSettingsFileMissing
                                     : named.isDir() ? messages::kSettingsFileIsFolder
                                                     : messages::kSettingsFileNotRegular);
        say(QStringLiteral("zqnlistd: %1").arg(text.arg(options.settingsPath)), Priority::Error);
    }
    options.alwaysStart = true;
    options.writeSettingsAtExit = false;
    zqn::app::MonitorController controller(std::move(options));

    int status = kSuccess;
    // A last write that failed lost what came since the previous one: the manager is told.
    const auto finish = [&] {
        zqn::app::notifyServiceStopping();
        if (!controller.shutDown())
            status = kFailure;
        QCoreApplication::exit(status);
    };
    QString lastStatus;
    QString lastFullStatus;
    // The line that names the open ports comes first; the status lines only after it.
    bool running = false;
    // A full list's warning has its own line, at most once a minute; the status proper is told
    // only when it changes.
    QObject::connect(&controller, &zqn::app::MonitorController::statusTextChanged, &app, [&] {
        if (const QString full = controller.statusText(); full != lastFullStatus) {
            lastFullStatus = full;
            zqn::app::notifyServiceStatus(full);
        }
        const QString text = controller.runStatus();
        if (text == lastStatus)
            return;
        lastStatus = text;
        if (!running)
            return;
        say(text, controller.statusSeverity() == zqn::app::MonitorController::Severity::error ? Priority::Error
                                                                                               : Priority::Info);
    });
    QObject::connect(&controller, &zqn::app::MonitorController::capWarningRaised, &app,
                     [](const QString& warning) { say(warning, Priority::Warning); });
    const auto sayError = [](const QString& message) {
        say(QStringLiteral("zqnlistd: %1").arg(QString(message).replace(QLatin1Char('\n'), QLatin1Char(' '))),
            Priority::Error);
    };
    QObject::connect(&controller, &zqn::app::MonitorController::errorRaised, &app, sayError);
    std::unique_ptr<zqn::app::WebFront> web;
    QString webProblem;
    // A service that is not monitoring has nothing to do; once it is, the start has opened the
    // sockets.
    const auto started = [&] {
        if (controller.state() != zqn::app::MonitorController::State::Running) {
            status = kFailure;
            finish();
            return false;
        }
        zqn::app::notifyServiceReady(controller.statusText());
        return true;
    };
    QObject::connect(&controller, &zqn::app::MonitorController::presentationRequested, &app, [&] {
        if (!started())
            return;
        say(message(zqn::text::messages::kServiceRunning)
                .arg(controller.settings().udpPort)
                .arg(web ? web->address() : message(zqn::text::messages::kWebOff)));
        if (!webProblem.isEmpty())
            sayError(webProblem);
        running = true;
    });
    zqn::app::watchReloadSignals([&] {
        if (controller.isExiting())
            return;
        zqn::app::notifyServiceReloading(message(zqn::text::messages::kReloading));
        say(message(zqn::text::messages::kReloading));
        controller.reload();
        started();
    });
    zqn::app::watchTerminationSignals(&app, finish);
    zqn::app::startServiceWatchdog(&app);

    zqn::app::DeviceJournal journal(zqn::app::journalOrStderr());
    if (!parser.isSet(noDeviceLogOption))
        zqn::app::connectJournal(controller, journal);

    controller.startUp();
    web = zqn::app::openWebFront(controller, webProblem);
    return QCoreApplication::exec();
}
