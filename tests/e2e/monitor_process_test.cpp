#include "monitor_fixture.h"

#include <QRegularExpression>

#include "support/only_check.h"

#include <sys/inotify.h>
#include <unistd.h>

namespace {

using zqn::e2e::announcement;
using zqn::e2e::eventually;
using zqn::e2e::macOf;
using zqn::e2e::MonitorProcess;

TEST_F(MonitorProcess, WritesAtOnceThenRecordsDevicesAtTheNextTick)
{
    start();
    ASSERT_TRUE(eventually([&] { return exists("zqnlist.csv") && exists("zqnlist.htm"); }));
    EXPECT_TRUE(file("zqnlist.htm").startsWith("<HTML><HEAD>\r\n"));
    send(announcement(0x21));
    send(announcement(0x22));
    ASSERT_TRUE(eventually([&] { return file("zqnlist.csv").contains(macOf(0x22)); }));
    const QByteArray csv = file("zqnlist.csv");
    EXPECT_TRUE(csv.startsWith(macOf(0x21) + ",127.0.0.1,")) << csv.toStdString();
    EXPECT_TRUE(csv.endsWith(",noname\r\n"));
    EXPECT_TRUE(eventually([&] { return file("zqnlist.htm").contains(macOf(0x22)); }));
}

class MonitorTermination : public MonitorProcess, public testing::WithParamInterface<int> {};

// A logout must lose nothing: the settings and every received sighting are written.
TEST_P(MonitorTermination, SignalEndsLikeAConfirmedExit)
{
    zqn::e2e::MonitorSettings settings;
    settings.systemExtra = "HTTPPORT=8080\r\n";
    start(settings);
    ASSERT_TRUE(eventually([&] { return exists("zqnlist.csv"); }));
    QFile::remove(dir.filePath("zqnlist.Ini"));
    send(announcement(0x31));
    terminate(GetParam());
    EXPECT_TRUE(file("zqnlist.csv").contains(macOf(0x31)));
    const QByteArray ini = file("zqnlist.Ini");
    EXPECT_TRUE(ini.contains("AUTO=1\r\n")) << ini.toStdString();
    EXPECT_TRUE(ini.contains("PORT=" + QByteArray::number(port) + "\r\n"));
    EXPECT_TRUE(ini.contains("HTTPPORT=8080\r\n"));
    EXPECT_TRUE(ini.contains("HTMLPORT=8080\r\n"));
}

INSTANTIATE_TEST_SUITE_P(Signals, MonitorTermination, testing::Values(SIGTERM, SIGINT),
                         [](const auto& info) { return info.param == SIGTERM ? "sigterm" : "sigint"; });

// How often a file has been opened, as the kernel tells.
class OpenCount {
public:
    explicit OpenCount(const QString& path)
        : fd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC))
    {
        if (fd_ >= 0)
            // The closes keep two opens from merging into one event while neither is read.
            watch_ = ::inotify_add_watch(fd_, QFile::encodeName(path).constData(), IN_OPEN | IN_CLOSE);
    }
    ~OpenCount()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    bool watching() const { return watch_ >= 0; }
    int opens()
    {
        alignas(inotify_event) char events[4096];
        for (ssize_t n; (n = ::read(fd_, events, sizeof events)) > 0;) {
            for (ssize_t at = 0; at < n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(events + at);
                count_ += (event->mask & IN_OPEN) ? 1 : 0;
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
        return count_;
    }

private:
    int fd_;
    int watch_ = -1;
    int count_ = 0;
};

TEST_F(MonitorProcess, HeldPortGivesNoPageWrite)
{
    QUdpSocket holder;
    ASSERT_TRUE(holder.bind(QHostAddress::AnyIPv4, port, QAbstractSocket::DontShareAddress));
    const QByteArray seed = macOf(0x11) + ",127.0.0.1,2000/01/01,00:00:00,noname\r\n";
    {
        QFile csv(dir.filePath("zqnlist.csv"));
        ASSERT_TRUE(csv.open(QIODevice::WriteOnly));
        ASSERT_EQ(csv.write(seed), seed.size());
    }
    OpenCount csvOpens(dir.filePath("zqnlist.csv"));
    ASSERT_TRUE(csvOpens.watching());
    start();
    // Start-up loads the CSV file, and Start loads it again right before it tries the port, in
    // the same turn of the event loop that then handles the signal: the attempt has been made.
    ASSERT_TRUE(eventually([&] { return csvOpens.opens() >= 2; }));
    terminate(SIGTERM); // the last write, which a monitor that ran anyway would make
    EXPECT_TRUE(exists("zqnlist.Ini"));
    EXPECT_FALSE(exists("zqnlist.htm"));
    EXPECT_EQ(file("zqnlist.csv"), seed);
}

} // namespace

namespace zqn::e2e {
namespace {

// At logout nobody answers a message box: a settings file that cannot be written must not keep
// the program from ending, and the CSV still gets its last write.
TEST_F(MonitorProcess, SignalEndsEvenWhenTheSettingsFileCannotBeWritten)
{
    start();
    ASSERT_TRUE(eventually([&] { return exists("zqnlist.csv"); }));
    ASSERT_TRUE(QFile::remove(dir.filePath("zqnlist.Ini")));
    ASSERT_TRUE(QDir(dir.path()).mkdir("zqnlist.Ini"));
    send(announcement(0x41));
    terminate(SIGTERM);
    EXPECT_TRUE(file("zqnlist.csv").contains(macOf(0x41)));
}

} // namespace
} // namespace zqn::e2e

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zqn::e2e {
namespace {

constexpr uid_t kNobody = 65534;

// The child drops to nobody, who may write the settings file but not read it; root, the test,
// still can.
MonitorSettings asNobodyWithUnreadableSettings(const QString& folder, const QString& ini)
{
    MonitorSettings settings;
    settings.childSetup = [folder = QFile::encodeName(folder), ini = QFile::encodeName(ini)] {
        if (::chmod(folder.constData(), 0777) != 0 || ::chown(ini.constData(), kNobody, kNobody) != 0
            || ::chmod(ini.constData(), 0200) != 0 || ::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0
            || ::setuid(kNobody) != 0)
            ::_exit(125);
    };
    return settings;
}

// The main thread waits in poll once an event loop runs; before the main loop, that is the
// start-up message about the settings file.
bool waitsInAnEventLoop(qint64 pid)
{
    QFile wchan(QStringLiteral("/proc/%1/wchan").arg(pid));
    return wchan.open(QIODevice::ReadOnly) && wchan.readAll().contains("poll");
}

// Writing the defaults over such a file at exit would lose every value the user had; and a
// logout must end the program whenever it comes, also while nobody answers that message.
TEST_F(MonitorProcess, UnreadableSettingsStayByteForByteAndASignalDuringTheMessageEndsTheProgram)
{
    if (::geteuid() != 0)
        ZQN_SKIP_ONLY_CHECK("running the monitor as nobody needs root");
    const QString ini = dir.filePath("zqnlist.Ini");
    start(asNobodyWithUnreadableSettings(dir.path(), ini));
    const QByteArray before = file("zqnlist.Ini");
    ASSERT_FALSE(before.isEmpty());
    ASSERT_TRUE(eventually([&] { return waitsInAnEventLoop(process.processId()); }));

    terminate(SIGTERM);

    EXPECT_EQ(file("zqnlist.Ini"), before);
    struct stat after {};
    ASSERT_EQ(::stat(QFile::encodeName(ini).constData(), &after), 0);
    EXPECT_EQ(after.st_mode & 07777, 0200u);
}

// A second launch with the same settings file leaves at once and writes nothing; the first keeps
// recording. The socket a killed copy leaves behind does not keep the next one from starting.
TEST_F(MonitorProcess, SecondLaunchLeavesAndAKilledCopyBlocksNothing)
{
    start();
    ASSERT_TRUE(eventually([&] { return exists("zqnlist.csv"); }));
    const QByteArray ini = file("zqnlist.Ini");
    const QStringList files = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);

    QProcess second;
    second.setProcessEnvironment(process.processEnvironment());
    second.setWorkingDirectory(dir.path());
    second.start(dir.filePath("zqnlist"));
    ASSERT_TRUE(second.waitForFinished(10000)) << "the second copy ran on";
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_EQ(file("zqnlist.Ini"), ini);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), files);
    send(announcement(0x51));
    EXPECT_TRUE(eventually([&] { return file("zqnlist.csv").contains(macOf(0x51)); }));

    process.kill();
    ASSERT_TRUE(process.waitForFinished());
    ASSERT_TRUE(QFile::remove(dir.filePath("zqnlist.csv")));
    start();
    ASSERT_TRUE(eventually([&] { return exists("zqnlist.csv"); })) << "the next copy did not start";
    send(announcement(0x52));
    EXPECT_TRUE(eventually([&] { return file("zqnlist.csv").contains(macOf(0x52)); }));
}

struct WindowCommandLineCase {
    const char* name;
    QStringList arguments; // "DIR/" stands for the copy's folder
    int exitCode;
    const char* stdoutPattern;
    const char* stderrPattern;
    const char* settingsWritten; // runs until SIGTERM, which writes this settings file
};

void PrintTo(const WindowCommandLineCase& c, std::ostream* out)
{
    *out << c.name;
}

class WindowCommandLine : public MonitorProcess, public testing::WithParamInterface<WindowCommandLineCase> {};

TEST_P(WindowCommandLine, FollowsTheUsualConventions)
{
    const WindowCommandLineCase& c = GetParam();
    channels = QProcess::SeparateChannels;
    QStringList arguments = c.arguments;
    arguments.replaceInStrings(QStringLiteral("DIR/"), dir.path() + QLatin1Char('/'));
    // Folders of its own: nothing else is said on stderr, and its single-program socket shows
    // when it is under way.
    const QString runtime = dir.filePath(QStringLiteral("runtime"));
    ASSERT_TRUE(QDir().mkpath(runtime));
    ASSERT_TRUE(QFile::setPermissions(runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
    MonitorSettings settings;
    settings.environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    settings.environment.insert(QStringLiteral("TMPDIR"), runtime);
    start(settings, arguments);
    const QByteArray usualIni = file("zqnlist.Ini");
    if (c.settingsWritten) {
        const auto socketThere = [&] {
            return !QDir(runtime).entryList({QStringLiteral("zqnlist-*")}, QDir::System).isEmpty();
        };
        ASSERT_TRUE(eventually(socketThere));
        terminate(SIGTERM);
        EXPECT_TRUE(file(c.settingsWritten).startsWith("[SYSTEM]")) << "a missing file is a first run";
        EXPECT_EQ(file("zqnlist.Ini"), usualIni) << "the usual settings file is left alone";
    } else {
        ASSERT_TRUE(process.waitForFinished(10000));
        EXPECT_EQ(process.exitCode(), c.exitCode);
    }
    const QString out = QString::fromUtf8(process.readAllStandardOutput());
    const QString err = QString::fromUtf8(process.readAllStandardError());
    EXPECT_TRUE(out.contains(QRegularExpression(c.stdoutPattern))) << out.toStdString();
    EXPECT_TRUE(err.contains(QRegularExpression(c.stderrPattern))) << err.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WindowCommandLine,
    testing::Values(WindowCommandLineCase{"Help", {"--help"}, 0, "--settings <file>", "^$", nullptr},
                    WindowCommandLineCase{"Version", {"--version"}, 0, "^zqnlist 1\\.01\\n$", "^$", nullptr},
                    WindowCommandLineCase{"SettingsFileNotThereYet", {"--settings", "DIR/other.Ini"}, 0, "^$", "^$",
                                          "other.Ini"},
                    WindowCommandLineCase{"UnknownOption", {"--bogus"}, 2, "^$", "^zqnlist: [^\\n]*bogus[^\\n]*\\n$", nullptr}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace zqn::e2e
