#include <QRegularExpression>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <cstring>

#include "monitor_fixture.h"

namespace zqn::e2e {
namespace {

// Where JOURNAL_STREAM points, if anywhere.
enum class Journal { None, OnStderr, Elsewhere };

// The service, run as a unit file runs it: settings named on the command line, the CSV and the
// page in the working folder.
class ServiceProcess : public MonitorProcess {
protected:
    QString programSource() const override { return QStringLiteral(ZQN_SERVICE_EXECUTABLE); }
    QString programName() const override { return QStringLiteral("zqnlistd"); }

    void SetUp() override
    {
        MonitorProcess::SetUp();
        channels = QProcess::SeparateChannels;
    }

    // The settings file lies beside the copy; --settings names it anyway, as a unit would.
    QStringList settingsArgument() const { return {QStringLiteral("--settings"), dir.filePath("zqnlistd.Ini")}; }

    // stderr goes to the file "stderr"; JOURNAL_STREAM names it, or another file, by "device:inode"
    // as systemd names the journal's stream.
    void logTo(MonitorSettings& settings, Journal journal)
    {
        const QString log = dir.filePath("stderr");
        QFile(log).open(QIODevice::WriteOnly);
        process.setStandardErrorFile(log);
        if (journal == Journal::None)
            return;
        const QString named = journal == Journal::OnStderr ? log : dir.filePath(programName());
        struct stat file {};
        ASSERT_EQ(::stat(QFile::encodeName(named).constData(), &file), 0);
        settings.environment.insert(QStringLiteral("JOURNAL_STREAM"),
                                    QStringLiteral("%1:%2").arg(file.st_dev).arg(file.st_ino));
    }
    QString said() const { return QString::fromUtf8(file("stderr")); }
};

class ServiceEnding : public ServiceProcess, public testing::WithParamInterface<int> {};

TEST_P(ServiceEnding, MonitorsWithoutAskingAndEndsOnTheSignalWithItsLastWrite)
{
    MonitorSettings settings;
    settings.systemExtra = "AUTO=0\r\n"; // the service monitors whatever AUTO says
    start(settings, settingsArgument());
    ASSERT_TRUE(eventually([&] { return exists("zqnlist.csv") && exists("zqnlist.htm"); }));
    const QByteArray iniBefore = file("zqnlistd.Ini");
    send(announcement(0x51));
    ASSERT_TRUE(eventually([&] { return file("zqnlist.csv").contains(macOf(0x51)); }));
    send(announcement(0x52)); // only the last write can save this one: the interval is a second
    terminate(GetParam());

    EXPECT_TRUE(file("zqnlist.csv").contains(macOf(0x52)));
    EXPECT_TRUE(file("zqnlist.htm").contains(macOf(0x52)));
    EXPECT_EQ(file("zqnlistd.Ini"), iniBefore) << "the service never writes its settings";
    const QString log = QString::fromUtf8(process.readAllStandardError());
    EXPECT_TRUE(log.startsWith(QStringLiteral("監視中: UDP ポート %1、Web なし\n開始\n").arg(port))) << log.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Signals, ServiceEnding, testing::Values(SIGTERM, SIGINT),
                         [](const auto& info) { return info.param == SIGTERM ? "sigterm" : "sigint"; });

// A full list says so on stderr, once, as a line of its own for the journal.
TEST_F(ServiceProcess, FullListWarningIsALineOnStderr)
{
    MonitorSettings settings;
    settings.systemExtra = "MAXDEV=1\r\n";
    start(settings, settingsArgument());
    ASSERT_TRUE(eventually([&] { return exists("zqnlist.csv"); }));
    send(announcement(0x61));
    send(announcement(0x62));
    const QString warning = QStringLiteral("\n機器数が上限 1 台に達しました。新しい機器は記録されません。\n");
    QString log;
    EXPECT_TRUE(eventually([&] {
        log += QString::fromUtf8(process.readAllStandardError());
        return log.contains(warning);
    })) << log.toStdString();
    terminate(SIGTERM);
    EXPECT_EQ(file("zqnlist.csv").count("\r\n"), 1);
    log += QString::fromUtf8(process.readAllStandardError());
    EXPECT_EQ(log.count(warning), 1) << log.toStdString();
}

// systemctl reload: the settings and the CSV file are read again; the process stays.
TEST_F(ServiceProcess, ReloadsSettingsAndTypedNamesOnSighup)
{
    const auto writeSettings = [&](int interval) {
        QFile ini(dir.filePath("zqnlistd.Ini"));
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
        ini.write("[SYSTEM]\r\nPORT=" + QByteArray::number(port) + "\r\nLTIME=" + QByteArray::number(interval)
                  + "\r\n[DATA]\r\nCSV=zqnlist.csv\r\nHTML=zqnlist.htm\r\n");
    };
    const auto reload = [&] { ASSERT_EQ(::kill(static_cast<pid_t>(process.processId()), SIGHUP), 0); };
    start({}, settingsArgument());
    const qint64 pid = process.processId();
    ASSERT_TRUE(eventually([&] { return exists("zqnlist.csv"); }));
    send(announcement(0x71));
    ASSERT_TRUE(eventually([&] { return file("zqnlist.csv").contains(macOf(0x71)); }));
    // An interval long enough that no write comes between the typing and the reload.
    writeSettings(3600);
    reload();
    // "開始" follows the first write after the reload, of the CSV file as of the page.
    QString log;
    ASSERT_TRUE(eventually([&] {
        log += QString::fromUtf8(process.readAllStandardError());
        return log.count(QStringLiteral("\n開始\n")) == 2;
    })) << log.toStdString();
    ASSERT_TRUE(file("zqnlist.htm").contains("CONTENT=3600"));

    QByteArray csv = file("zqnlist.csv");
    csv.replace("noname", "\x89\xEF\x8B\x63\x8E\xBA"); // 会議室, in code page 932
    QFile typed(dir.filePath("zqnlist.csv"));
    ASSERT_TRUE(typed.open(QIODevice::WriteOnly));
    typed.write(csv);
    typed.close();
    writeSettings(7);
    reload();
    ASSERT_TRUE(eventually([&] { return file("zqnlist.htm").contains("CONTENT=7"); }));
    EXPECT_TRUE(file("zqnlist.htm").contains("\x89\xEF\x8B\x63\x8E\xBA"));
    EXPECT_EQ(process.state(), QProcess::Running);
    EXPECT_EQ(process.processId(), pid);

    // A settings file that cannot be read keeps the running settings.
    ASSERT_TRUE(QFile::remove(dir.filePath("zqnlistd.Ini")));
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("zqnlistd.Ini")));
    ASSERT_TRUE(QFile::remove(dir.filePath("zqnlist.htm"))); // Start writes it again
    reload();
    ASSERT_TRUE(eventually([&] {
        log += QString::fromUtf8(process.readAllStandardError());
        return log.contains(QStringLiteral("今の設定のまま続けます"));
    })) << log.toStdString();
    ASSERT_TRUE(eventually([&] { return file("zqnlist.htm").contains("CONTENT=7"); }));
    terminate(SIGTERM);
    EXPECT_TRUE(file("zqnlist.csv").contains("\x89\xEF\x8B\x63\x8E\xBA"));
}

TEST_F(ServiceProcess, EndsWithFailureWhenItCannotListen)
{
    QUdpSocket holder;
    ASSERT_TRUE(holder.bind(QHostAddress::AnyIPv4, port, QAbstractSocket::DontShareAddress));
    start({}, settingsArgument());
    ASSERT_TRUE(process.waitForFinished(10000));
    EXPECT_EQ(process.exitCode(), 1);
    EXPECT_TRUE(process.readAllStandardError().contains(QByteArray::number(port)));
}

// The last write at SIGTERM is the only copy of what came since the previous one.
TEST_F(ServiceProcess, EndsWithFailureWhenItsLastWriteFails)
{
    MonitorSettings settings;
    settings.csvPath = "missing/zqnlist.csv";
    logTo(settings, Journal::OnStderr);
    start(settings, settingsArgument());
    ASSERT_TRUE(eventually([&] { return said().contains(QStringLiteral("\n<3>csv ファイル保存ができません。\n")); }))
        << said().toStdString();
    ASSERT_EQ(::kill(static_cast<pid_t>(process.processId()), SIGTERM), 0);
    ASSERT_TRUE(process.waitForFinished(10000));
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 1);
}

struct JournalCase {
    const char* name;
    Journal journal;
    const char* errorPrefix;
};

void PrintTo(const JournalCase& c, std::ostream* out)
{
    *out << c.name;
}

class ServiceJournal : public ServiceProcess, public testing::WithParamInterface<JournalCase> {};

TEST_P(ServiceJournal, MarksErrorLinesOnlyOnTheJournalsStream)
{
    QUdpSocket holder;
    ASSERT_TRUE(holder.bind(QHostAddress::AnyIPv4, port, QAbstractSocket::DontShareAddress));
    MonitorSettings settings;
    logTo(settings, GetParam().journal);
    start(settings, settingsArgument());
    ASSERT_TRUE(process.waitForFinished(10000));
    EXPECT_EQ(process.exitCode(), 1);
    EXPECT_EQ(said(), QStringLiteral("%1zqnlistd: ポート %2 は開けません\n").arg(GetParam().errorPrefix).arg(port));
}

INSTANTIATE_TEST_SUITE_P(Cases, ServiceJournal,
                         testing::Values(JournalCase{"StderrIsTheJournal", Journal::OnStderr, "<3>"},
                                         JournalCase{"JournalElsewhere", Journal::Elsewhere, ""},
                                         JournalCase{"NoJournal", Journal::None, ""}),
                         [](const auto& info) { return std::string(info.param.name); });

struct SettingsFileCase {
    const char* name;
    const char* path;
    const char* said;
};

void PrintTo(const SettingsFileCase& c, std::ostream* out)
{
    *out << c.name;
}

class ServiceSettingsFile : public ServiceProcess, public testing::WithParamInterface<SettingsFileCase> {};

// A typo in a unit file shows in the journal; the service still runs.
TEST_P(ServiceSettingsFile, ThatIsNotThereIsReportedAndTheDefaultsServe)
{
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("zqnlist.d")));
    const QString path = dir.filePath(GetParam().path);
    MonitorSettings settings;
    logTo(settings, Journal::OnStderr);
    start(settings, {QStringLiteral("--settings"), path});
    // The default port, 5000, may be taken on this machine: either way it is the one used.
    ASSERT_TRUE(eventually([&] {
        return said().contains(QStringLiteral("ポート 5000"));
    })) << said().toStdString();
    const QString expected = QStringLiteral("<3>zqnlistd: 設定ファイル %1 %2。既定の設定で動きます\n").arg(path, GetParam().said);
    EXPECT_TRUE(said().startsWith(expected)) << said().toStdString();
    EXPECT_EQ(said().count(path), 1);
}

INSTANTIATE_TEST_SUITE_P(Cases, ServiceSettingsFile,
                         testing::Values(SettingsFileCase{"Missing", "zqnlistd.Ini.typo", "がありません"},
                                         SettingsFileCase{"Folder", "zqnlist.d", "はフォルダーです"}),
                         [](const auto& info) { return std::string(info.param.name); });

#ifdef ZQN_HAVE_LIBSYSTEMD
// systemd's side of Type=notify and WatchdogSec=: a datagram socket named by NOTIFY_SOCKET.
TEST_F(ServiceProcess, TellsItsManagerWhenItIsReadyItsStatusAndThatItIsAlive)
{
    const QByteArray socketPath = QFile::encodeName(dir.filePath("notify"));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(static_cast<std::size_t>(socketPath.size()), sizeof address.sun_path);
    std::memcpy(address.sun_path, socketPath.constData(), static_cast<std::size_t>(socketPath.size()));
    const int manager = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    ASSERT_GE(manager, 0);
    const auto closeManager = qScopeGuard([manager] { ::close(manager); });
    ASSERT_EQ(::bind(manager, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);

    QStringList told;
    bool listeningWhenReady = false;
    const auto receive = [&] {
        char buffer[4096];
        for (ssize_t n; (n = ::recv(manager, buffer, sizeof buffer, 0)) > 0;) {
            told += QString::fromUtf8(buffer, n);
            if (told.last().startsWith(QStringLiteral("READY=1"))) {
                QUdpSocket probe;
                listeningWhenReady = !probe.bind(QHostAddress::AnyIPv4, port, QAbstractSocket::DontShareAddress);
            }
        }
    };
    MonitorSettings settings;
    settings.environment.insert(QStringLiteral("NOTIFY_SOCKET"), dir.filePath("notify"));
    settings.environment.insert(QStringLiteral("WATCHDOG_USEC"), QStringLiteral("100000"));
    start(settings, settingsArgument());
    ASSERT_TRUE(eventually([&] {
        receive();
        return told.count(QStringLiteral("WATCHDOG=1")) >= 2 && told.contains(QStringLiteral("STATUS=開始"));
    })) << told.join(u'|').toStdString();
    EXPECT_EQ(told.count(QStringLiteral("READY=1\nSTATUS=開始中")), 1) << told.join(u'|').toStdString();
    EXPECT_TRUE(listeningWhenReady);
    terminate(SIGTERM);
    receive();
    EXPECT_TRUE(told.contains(QStringLiteral("STOPPING=1"))) << told.join(u'|').toStdString();
}
#endif

struct CommandLineCase {
    const char* name;
    QStringList arguments;
    int exitCode;
    const char* stdoutPattern;
    const char* stderrPattern;
};

void PrintTo(const CommandLineCase& c, std::ostream* out)
{
    *out << c.name;
}

class ServiceCommandLine : public ServiceProcess, public testing::WithParamInterface<CommandLineCase> {};

TEST_P(ServiceCommandLine, FollowsTheUsualConventions)
{
    const CommandLineCase& c = GetParam();
    process.start(dir.filePath(programName()), c.arguments);
    ASSERT_TRUE(process.waitForFinished(10000));
    EXPECT_EQ(process.exitCode(), c.exitCode);
    EXPECT_TRUE(QString::fromUtf8(process.readAllStandardOutput()).contains(QRegularExpression(c.stdoutPattern)));
    EXPECT_TRUE(QString::fromUtf8(process.readAllStandardError()).contains(QRegularExpression(c.stderrPattern)));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ServiceCommandLine,
    testing::Values(CommandLineCase{"Help", {"--help"}, 0, "--settings <file>", "^$"},
                    CommandLineCase{"Version", {"--version"}, 0, "^zqnlistd 1\\.01\\n$", "^$"},
                    CommandLineCase{"UnknownOption", {"--bogus"}, 2, "^$", "bogus.*\\n.*--help"},
                    CommandLineCase{"MissingValue", {"--settings"}, 2, "^$", "settings"},
                    CommandLineCase{"StrayArgument", {"extra"}, 2, "^$", "extra"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ServiceBinary, LinksNoGuiLibrary)
{
    QProcess ldd;
    ldd.start(QStringLiteral("ldd"), {QStringLiteral(ZQN_SERVICE_EXECUTABLE)});
    if (!ldd.waitForFinished(10000) || ldd.exitCode() != 0)
        GTEST_SKIP() << "ldd cannot read the executable here";
    const QByteArray libraries = ldd.readAllStandardOutput();
    EXPECT_TRUE(libraries.contains("libQt6Network")) << libraries.toStdString();
    EXPECT_FALSE(libraries.contains("libQt6Gui")) << libraries.toStdString();
    EXPECT_FALSE(libraries.contains("libQt6Widgets")) << libraries.toStdString();
}

TEST(WindowProgram, WithoutADisplaySaysSoAndPointsToTheService)
{
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QString::fromLatin1(name));
    program.setProcessEnvironment(env);
    program.start(QStringLiteral(ZQN_EXECUTABLE), {});
    ASSERT_TRUE(program.waitForFinished(10000));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 1);
    const QByteArray said = program.readAllStandardError();
    EXPECT_EQ(said.count('\n'), 1) << said.toStdString();
    EXPECT_TRUE(said.contains("display") && said.contains("zqnlistd")) << said.toStdString();
}

} // namespace
} // namespace zqn::e2e
