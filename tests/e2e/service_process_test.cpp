#include <QRegularExpression>

#include "monitor_fixture.h"

namespace zqn::e2e {
namespace {

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
    EXPECT_TRUE(log.startsWith(QStringLiteral("停止中\n開始中\n開始\n"))) << log.toStdString();
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

TEST_F(ServiceProcess, EndsWithFailureWhenItCannotListen)
{
    QUdpSocket holder;
    ASSERT_TRUE(holder.bind(QHostAddress::AnyIPv4, port, QAbstractSocket::DontShareAddress));
    start({}, settingsArgument());
    ASSERT_TRUE(process.waitForFinished(10000));
    EXPECT_EQ(process.exitCode(), 1);
    EXPECT_TRUE(process.readAllStandardError().contains(QByteArray::number(port)));
}

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
