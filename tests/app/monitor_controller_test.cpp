#include "app/monitor_controller.h"

#include "app/monitor_wiring.h"
#include "app/platform.h"

#include <QDateTime>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUdpSocket>

#include <cerrno>
#include <cstring>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <set>
#include <utility>
#include <vector>

#include "support/announcements.h"
#include "support/eventually.h"

#include "storage/file_store.h"

namespace zqn::app {
namespace {

using State = MonitorController::State;

using test::announcement;
using test::macOf;

quint16 freePort()
{
    QUdpSocket probe;
    probe.bind(QHostAddress::LocalHost, 0);
    return probe.localPort();
}

// Runs the event loop until a precise timer armed now has fired. Qt fires due timers in the order
// of their deadlines, so every timer armed before with an interval of at most ms has fired too:
// what such a timer would have done is done, however slow the machine.
void runPastTimersDueWithin(int ms)
{
    bool fired = false;
    QTimer::singleShot(ms, Qt::PreciseTimer, [&] { fired = true; });
    ASSERT_TRUE(test::eventually([&] { return fired; }, 60000));
}

// The local ports of this process's UDP sockets over IPv4, as the system lists them.
std::vector<quint16> udpPortsOfThisProcess()
{
    std::set<QByteArray> inodes;
    for (const QFileInfo& fd : QDir(QStringLiteral("/proc/self/fd")).entryInfoList(QDir::System | QDir::NoDotAndDotDot)) {
        const QString target = fd.symLinkTarget();
        if (target.contains(QStringLiteral("socket:[")))
            inodes.insert(target.section(QLatin1Char('['), 1).chopped(1).toLatin1());
    }
    std::vector<quint16> ports;
    QFile table(QStringLiteral("/proc/self/net/udp"));
    if (!table.open(QIODevice::ReadOnly))
        return ports;
    table.readLine(); // the heading
    while (!table.atEnd()) {
        const QList<QByteArray> fields = table.readLine().simplified().split(' ');
        if (fields.size() > 9 && inodes.count(fields[9]))
            ports.push_back(static_cast<quint16>(fields[1].split(':').value(1).toUShort(nullptr, 16)));
    }
    return ports;
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Each test runs in its own folder, which is also the current directory (relative paths).
class Controller : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        previousDir = QDir::currentPath();
        QDir::setCurrent(dir.path());
        port = freePort();
    }
    void TearDown() override { QDir::setCurrent(previousDir); }

    void writeIni(const QString& extraSystem = {}, const QString& extraData = {})
    {
        QFile file(iniPath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QStringLiteral("[SYSTEM]\r\nPORT=%1\r\nLTIME=%2\r\n%3[DATA]\r\n%4")
                       .arg(port)
                       .arg(interval)
                       .arg(extraSystem, extraData)
                       .toLatin1());
    }

    std::unique_ptr<MonitorController> makeController(const std::function<void(MonitorController::Options&)>& adjust = {})
    {
        MonitorController::Options options;
        options.settingsPath = iniPath();
        options.clock = [] { return text::LocalDateTime{2024, 5, 1, 9, 15, 30}; };
        if (adjust)
            adjust(options);
        auto controller = std::make_unique<MonitorController>(std::move(options));
        errors = std::make_unique<QSignalSpy>(controller.get(), &MonitorController::errorRaised);
        controller->startUp();
        return controller;
    }

    void send(const QByteArray& datagram)
    {
        QUdpSocket sender;
        ASSERT_EQ(sender.writeDatagram(datagram, QHostAddress::LocalHost, port), datagram.size());
    }

    QString iniPath() const { return dir.filePath("zqnlist.Ini"); }
    QByteArray csv() const { return readAll(dir.filePath("zqnlist.csv")); }
    void writeFile(const QString& name, const QByteArray& bytes)
    {
        QFile file(dir.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }

    QTemporaryDir dir;
    QString previousDir;
    quint16 port = 0;
    int interval = 10;
    std::unique_ptr<QSignalSpy> errors;
};

TEST_F(Controller, StatesFollowStartStopAndTheSettingsPanel)
{
    writeIni();
    auto c = makeController();
    struct Step {
        const char* action;
        std::function<void()> run;
        State state;
        bool canStart, canStop, canOpenSettings;
    };
    const std::vector<Step> steps{
        {"start-up", [] {}, State::Stopped, true, false, true},
        {"start", [&] { c->start(); }, State::Running, false, true, false},
        {"settings while running are refused", [&] { c->openSettings(); }, State::Running, false, true, false},
        {"stop", [&] { c->stop(); }, State::Stopped, true, false, true},
        {"open settings", [&] { c->openSettings(); }, State::SettingsOpen, false, false, false},
        {"start while settings open is refused", [&] { c->start(); }, State::SettingsOpen, false, false, false},
        {"cancel", [&] { c->cancelSettings(); }, State::Stopped, true, false, true},
        {"open again", [&] { c->openSettings(); }, State::SettingsOpen, false, false, false},
        {"apply", [&] { c->applySettings(c->settings()); }, State::Stopped, true, false, true},
    };
    for (const auto& step : steps) {
        step.run();
        EXPECT_EQ(c->state(), step.state) << step.action;
        EXPECT_EQ(c->canStart(), step.canStart) << step.action;
        EXPECT_EQ(c->canStop(), step.canStop) << step.action;
        EXPECT_EQ(c->canOpenSettings(), step.canOpenSettings) << step.action;
        EXPECT_EQ(c->publisher().isRunning(), step.state == State::Running) << step.action;
    }
    EXPECT_EQ(errors->count(), 0);
}

TEST_F(Controller, FirstPageFollowsStartAtOnceThenTheInterval)
{
    writeIni();
    auto c = makeController();
    EXPECT_EQ(c->statusText(), QStringLiteral("停止中"));
    c->start();
    EXPECT_EQ(c->statusText(), QStringLiteral("開始中"));
    QUdpSocket other;
    EXPECT_FALSE(other.bind(QHostAddress::AnyIPv4, port, QAbstractSocket::DontShareAddress)) << "the listener holds it";
    ASSERT_EVENTUALLY(QFile::exists(dir.filePath("zqnlist.htm")));
    EXPECT_EQ(c->statusText(), QStringLiteral("開始"));
    EXPECT_EQ(c->updateTime(), QStringLiteral("2024/05/01 09:15:30"));
    EXPECT_EQ(c->publisher().intervalMs(), 10000);
    EXPECT_TRUE(QFile::exists(dir.filePath("zqnlist.csv")));
    EXPECT_EQ(csv(), QByteArray());
}

TEST_F(Controller, DatagramsAreRecordedAndReachTheNextPage)
{
    writeIni();
    auto c = makeController();
    c->start();
    ASSERT_EVENTUALLY(QFile::exists(dir.filePath("zqnlist.csv")));
    send(announcement(0x5F));
    send(announcement(0x5F));
    send(announcement(0x60));
    ASSERT_EVENTUALLY((c->devices().count()) == (std::size_t{2}));
    EXPECT_EQ(c->devices().line(0), (macOf(0x5F) + ",127.0.0.1,2024/05/01,09:15:30,noname").toStdString());
}

// Stop leaves the configured port: nothing sent there arrives any more.
TEST_F(Controller, StopListensOnASystemChosenPort)
{
    writeIni();
    auto c = makeController();
    c->start();
    c->stop();
    const std::vector<quint16> before = udpPortsOfThisProcess();
    EXPECT_EQ(std::count(before.begin(), before.end(), port), 0);
    ASSERT_EQ(before.size(), 1u) << "the listener's socket only";
    EXPECT_FALSE(c->publisher().isRunning());
    EXPECT_EQ(c->statusText(), QStringLiteral("停止中"));
    // A stopped monitor still decodes what reaches its new port: the datagram sent there second is
    // the event after which the first one, had it arrived, would be in the list too.
    send(announcement(1));
    QUdpSocket sender;
    ASSERT_EQ(sender.writeDatagram(announcement(2), QHostAddress::LocalHost, before.front()), 20);
    ASSERT_EVENTUALLY(c->devices().count() >= 1u);
    QCoreApplication::processEvents();
    EXPECT_EQ(c->devices().lines(), (text::Lines{(macOf(2) + ",127.0.0.1,2024/05/01,09:15:30,noname").toStdString()}));
}

// Datagrams that arrived after the last tick are recorded and written at Stop, so the reload
// at the next Start finds them.
TEST_F(Controller, StopWritesWhatArrivedSinceTheLastTick)
{
    writeIni();
    auto c = makeController();
    c->start();
    ASSERT_EVENTUALLY(QFile::exists(dir.filePath("zqnlist.csv")));
    send(announcement(7));
    send(announcement(8));
    c->stop(); // no event loop in between: the datagrams are still waiting on the socket
    EXPECT_TRUE(csv().contains(macOf(7)));
    EXPECT_TRUE(csv().contains(macOf(8)));
    c->start();
    EXPECT_EQ(c->devices().count(), 2u);
}

TEST_F(Controller, ExitWhileRunningWritesTheLastPageAndTheSettings)
{
    writeIni();
    auto c = makeController();
    c->start();
    send(announcement(9));
    ASSERT_TRUE(c->shutDown());
    EXPECT_TRUE(csv().contains(macOf(9)));
    const QByteArray ini = readAll(iniPath());
    EXPECT_TRUE(ini.contains("PORT=" + QByteArray::number(port) + "\r\n")) << ini.toStdString();
    EXPECT_FALSE(c->publisher().isRunning());
}

TEST_F(Controller, HeldPortLeavesTheMonitorStopped)
{
    writeIni();
    QUdpSocket holder;
    ASSERT_TRUE(holder.bind(QHostAddress::AnyIPv4, port));
    auto c = makeController();
    c->start();
    EXPECT_EQ(c->state(), State::Stopped);
    EXPECT_FALSE(c->publisher().isRunning());
    const std::vector<quint16> ports = udpPortsOfThisProcess();
    EXPECT_EQ(std::count(ports.begin(), ports.end(), port), 1) << "the holder's only";
    EXPECT_EQ(c->statusText(), QStringLiteral("停止中 ポートは使用中"));
    EXPECT_EQ(c->runStatus(), QStringLiteral("停止中")) << "what a service tells its journal";
    EXPECT_TRUE(c->statusDetail().startsWith(QStringLiteral("ポート %1: ").arg(port))) << c->statusDetail().toStdString();
    ASSERT_EQ(errors->count(), 1);
    EXPECT_EQ(errors->at(0).at(0).toString(), QStringLiteral("ポート %1 は開けません").arg(port));
    runPastTimersDueWithin(20); // Start arms the first page with 1 ms
    EXPECT_FALSE(QFile::exists(dir.filePath("zqnlist.htm")));
    EXPECT_TRUE(c->canStart());
}

struct IntervalCase {
    const char* name;
    int seconds;
    bool keepsTicking;
    int intervalMs;
};

class ControllerInterval : public Controller, public testing::WithParamInterface<IntervalCase> {};

TEST_P(ControllerInterval, IntervalIsValidatedBeforeArming)
{
    interval = GetParam().seconds;
    writeIni();
    auto c = makeController();
    QSignalSpy ticks(c.get(), &MonitorController::updateTimeChanged);
    c->start();
    ASSERT_EVENTUALLY((ticks.count()) == (1));
    EXPECT_EQ(c->publisher().isRunning(), GetParam().keepsTicking);
    if (GetParam().keepsTicking) {
        EXPECT_EQ(c->publisher().intervalMs(), GetParam().intervalMs);
    }
    runPastTimersDueWithin(30); // a timer left at Start's 1 ms would have ticked again
    EXPECT_EQ(ticks.count(), 1);
}

INSTANTIATE_TEST_SUITE_P(Cases, ControllerInterval,
                         testing::Values(IntervalCase{"zero_writes_once", 0, false, 0},
                                         IntervalCase{"negative_writes_once", -5, false, 0},
                                         IntervalCase{"five_seconds_from_the_file", 5, true, 5000},
                                         IntervalCase{"too_large_is_clamped", 2147484, true, 2147483000}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Controller, UnreadableCsvAtStartUpSwitchesAutoStartOff)
{
    writeIni("AUTO=1\r\n", "CSV=/proc/self/mem\r\n");
    auto c = makeController();
    EXPECT_EQ(c->statusText(), QStringLiteral("csv ファイルが読み込めません"));
    EXPECT_FALSE(c->settings().autoStart);
    c->runDeferredStart();
    EXPECT_EQ(c->state(), State::Stopped);
    ASSERT_TRUE(c->shutDown());
    EXPECT_TRUE(readAll(iniPath()).contains("AUTO=0\r\n"));
}

TEST_F(Controller, UnreadableCsvAtStartEndsThatStart)
{
    writeIni();
    auto c = makeController();
    ASSERT_EQ(errors->count(), 0);
    c->applySettings([&] {
        auto s = c->settings();
        s.csvPath = "/proc/self/mem";
        return s;
    }());
    c->start();
    ASSERT_EQ(errors->count(), 1);
    EXPECT_TRUE(errors->at(0).at(0).toString().startsWith(QStringLiteral("ファイル ")));
    EXPECT_EQ(c->state(), State::Stopped);
    EXPECT_FALSE(c->publisher().isRunning());
}

TEST_F(Controller, StartReloadsTheCsvAndAutoStartRuns)
{
    writeIni("AUTO=1\r\n");
    ASSERT_TRUE(storage::replaceFile(dir.filePath("zqnlist.csv"), "A\r\nB"));
    auto c = makeController();
    EXPECT_EQ(c->devices().count(), 2u);
    c->runDeferredStart();
    EXPECT_EQ(c->state(), State::Running);
    send(announcement(3));
    ASSERT_EVENTUALLY((c->devices().count()) == (std::size_t{3}));
    c->stop();
    EXPECT_EQ(csv(), "A\r\nB\r\n" + macOf(3) + ",127.0.0.1,2024/05/01,09:15:30,noname");
}

TEST_F(Controller, SettingsFileThatCannotBeWrittenIsReported)
{
    MonitorController::Options options;
    options.settingsPath = dir.filePath("missing/zqnlist.Ini");
    MonitorController c(std::move(options));
    QSignalSpy spy(&c, &MonitorController::errorRaised);
    c.startUp();
    EXPECT_FALSE(c.shutDown());
    ASSERT_EQ(spy.count(), 1);
    EXPECT_TRUE(spy.at(0).at(0).toString().contains(QStringLiteral("zqnlist.Ini")));
}

// Settings there but unreadable: the message gives the system's reason, and the status tooltip
// keeps saying that they will not be saved.
TEST_F(Controller, UnreadableSettingsNameTheReasonAndTheStatusTooltipRemembers)
{
    MonitorController::Options options;
    options.settingsPath = dir.filePath("zqnlist.Ini");
    ASSERT_TRUE(QFile::link(QStringLiteral("/proc/self/mem"), options.settingsPath)); // opens, cannot be read
    options.scheduleDeferredStart = false;
    MonitorController c(std::move(options));
    QSignalSpy spy(&c, &MonitorController::errorRaised);
    c.startUp();
    ASSERT_EQ(spy.count(), 1);
    const QString message = spy.at(0).at(0).toString();
    EXPECT_TRUE(message.contains(QStringLiteral(" は開けません (%1)").arg(QString::fromLocal8Bit(std::strerror(EIO)))))
        << message.toStdString();
    const QString notSaved = QStringLiteral("設定は終了時に保存されません");
    EXPECT_TRUE(c.statusDetail().contains(notSaved)) << c.statusDetail().toStdString();
}

// An html.dat that exists but cannot be read is reported once; the built-in template stays and
// start-up goes on to the first page.
TEST_F(Controller, UnreadableHtmlDatIsReportedAndTheBuiltInTemplateStays)
{
    writeIni("AUTO=1\r\n");
    ASSERT_TRUE(QFile::link(QStringLiteral("/proc/self/mem"), dir.filePath("html.dat"))); // opens, cannot be read
    auto c = makeController();
    ASSERT_EQ(errors->count(), 1);
    EXPECT_TRUE(errors->at(0).at(0).toString().contains(QStringLiteral("html.dat"))) << errors->at(0).at(0).toString().toStdString();
    c->runDeferredStart();
    EXPECT_EQ(c->state(), State::Running);
    ASSERT_EVENTUALLY(QFile::exists(dir.filePath("zqnlist.htm")));
    const QByteArray page = readAll(dir.filePath("zqnlist.htm"));
    EXPECT_TRUE(page.startsWith("<HTML><HEAD>\r\n")) << page.left(200).toStdString();
    EXPECT_TRUE(page.endsWith("</BODY></HTML>\r\n\r\n"));
}

// Names, html.dat and the heading reach the page.
TEST_F(Controller, TemplateFromHtmlDatIsUsed)
{
    writeIni({}, QStringLiteral("MESS1=Office: 2F\r\n"));
    ASSERT_TRUE(storage::replaceFile(dir.filePath("html.dat"), "<P>%MESS01%</P>\n%LISTDATA%\n<END>\n"));
    auto c = makeController();
    c->start();
    ASSERT_EVENTUALLY(QFile::exists(dir.filePath("zqnlist.htm")));
    const QByteArray page = readAll(dir.filePath("zqnlist.htm"));
    EXPECT_TRUE(page.startsWith("<P>Office: 2F</P>\r\n<TR>")) << page.toStdString();
    EXPECT_TRUE(page.endsWith("<END>\r\n"));
}


// Stop's last write can fail like any tick: the status keeps saying so instead of "停止中", with
// why in words a user can act on, and the system's words in its tooltip.
TEST_F(Controller, FailedLastWriteAtStopStaysVisible)
{
    writeIni({}, QStringLiteral("CSV=missing/zqnlist.csv\r\n"));
    auto c = makeController();
    c->start();
    const QString failed = QStringLiteral("csv ファイル保存ができません。 フォルダがありません");
    ASSERT_EVENTUALLY(c->statusText() == failed);
    c->stop();
    EXPECT_EQ(c->state(), State::Stopped);
    EXPECT_EQ(c->statusText(), failed);
    EXPECT_EQ(c->runStatus(), QStringLiteral("csv ファイル保存ができません。")) << "what a service tells its journal";
    EXPECT_TRUE(c->statusDetail().startsWith(QDir::toNativeSeparators(QStringLiteral("missing/zqnlist.csv: "))))
        << c->statusDetail().toStdString();
    EXPECT_TRUE(QFile::exists(dir.filePath("zqnlist.htm")));
}


// The whole life without a window: the deferred start comes from the event loop, exit from the
// controller itself.
TEST_F(Controller, RunsFromStartUpToExitOnItsOwn)
{
    writeIni("AUTO=1\r\nWINDOW=1\r\n");
    auto c = makeController();
    QSignalSpy presented(c.get(), &MonitorController::presentationRequested);
    QSignalSpy finished(c.get(), &MonitorController::finished);
    ASSERT_EVENTUALLY(presented.count() == 1);
    EXPECT_FALSE(presented.at(0).at(0).toBool()) << "WINDOW=1 keeps the window away";
    EXPECT_EQ(c->state(), State::Running);
    send(announcement(0x71));
    ASSERT_EVENTUALLY(c->devices().count() == 1u);

    EXPECT_TRUE(c->shutDown());
    EXPECT_EQ(finished.count(), 1);
    EXPECT_FALSE(c->canStart() || c->canStop() || c->canOpenSettings()) << "nothing runs after exit";
    EXPECT_TRUE(csv().contains(macOf(0x71)));
    EXPECT_TRUE(readAll(iniPath()).contains("AUTO=1\r\n"));
    c->runDeferredStart();
    EXPECT_EQ(presented.count(), 1) << "the deferred start runs once";
}

struct AddressCase {
    const char* name;
    const char* httpPort;
    const char* csvLine;
    const char* url; // empty: nothing to open
};

class DeviceAddress : public Controller, public testing::WithParamInterface<AddressCase> {};

TEST_P(DeviceAddress, IsWhereThePageButtonPosts)
{
    const AddressCase& p = GetParam();
    writeIni(QStringLiteral("HTTPPORT=%1\r\n").arg(QLatin1String(p.httpPort)));
    {
        QFile file(dir.filePath("zqnlist.csv"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(p.csvLine);
    }
    auto c = makeController();
    EXPECT_EQ(c->deviceUrl(0).toString(), QString::fromLatin1(p.url));
    EXPECT_TRUE(c->deviceUrl(1).isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DeviceAddress,
    testing::Values(AddressCase{"default_port", "80", "02:00:00:00:00:01,192.168.1.5,2024/05/01,09:15:30,a",
                                "http://192.168.1.5"},
                    AddressCase{"port_8080", "8080", "02:00:00:00:00:01,192.168.1.5,2024/05/01,09:15:30,a",
                                "http://192.168.1.5:8080"},
                    AddressCase{"no_address", "80", "02:00:00:00:00:01", ""},
                    AddressCase{"not_a_host", "80", "02:00:00:00:00:01,evil.example/x?y,2024/05/01,09:15:30,a", ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Controller, RenameIsSavedAtOnceAndSurvivesStart)
{
    writeIni();
    auto c = makeController();
    c->handleDatagram(announcement(0x81), "10.0.0.1");
    c->handleDatagram(announcement(0x82), "10.0.0.2");

    ASSERT_EQ(c->renameDevice(1, QStringLiteral("受付プリンタ")), MonitorController::Renamed::saved);
    const QByteArray saved = csv();
    EXPECT_TRUE(saved.endsWith(macOf(0x82) + ",10.0.0.2,2024/05/01,09:15:30,\x8E\xF3\x95\x74\x83\x76\x83\x8A\x83\x93\x83\x5E\r\n"))
        << saved.toStdString();
    EXPECT_TRUE(QFile::exists(dir.filePath("zqnlist.htm")));

    c->start(); // reloads the file
    c->handleDatagram(announcement(0x82), "10.0.0.3");
    EXPECT_EQ(c->device(1)->name, QStringLiteral("受付プリンタ"));
    EXPECT_EQ(c->device(1)->ip, QStringLiteral("10.0.0.3"));
    EXPECT_EQ(errors->count(), 0);
}

// A save that fails says which file and why, after the status it would show.
TEST_F(Controller, RenameThatCannotBeSavedSaysWhichFileAndWhy)
{
    writeIni({}, QStringLiteral("CSV=%1\r\n").arg(dir.filePath("missing/zqnlist.csv")));
    auto c = makeController();
    c->handleDatagram(announcement(0x83), "10.0.0.1");
    EXPECT_EQ(c->renameDevice(0, QStringLiteral("a")), MonitorController::Renamed::notSaved);
    ASSERT_EQ(errors->count(), 1);
    const QStringList lines = errors->at(0).at(0).toString().split(QLatin1Char('\n'));
    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(lines[0], QStringLiteral("csv ファイル保存ができません。"));
    EXPECT_TRUE(lines[1].startsWith(QDir::toNativeSeparators(dir.filePath("missing/zqnlist.csv")) + QStringLiteral(": ")))
        << lines[1].toStdString();
}

TEST_F(Controller, RenameRefusesWhatTheFileCannotCarry)
{
    writeIni();
    auto c = makeController();
    c->handleDatagram(announcement(0x91), "10.0.0.1");
    const QString refused[] = {QStringLiteral("한국어"), QStringLiteral("two\nlines"), QString::fromUtf16(u"nul\0x", 5)};
    for (const QString& name : refused) {
        EXPECT_EQ(c->renameDevice(0, name), MonitorController::Renamed::badName) << name.toStdString();
        EXPECT_EQ(c->device(0)->name, QStringLiteral("noname"));
    }
    EXPECT_EQ(errors->count(), 3);
    EXPECT_FALSE(QFile::exists(dir.filePath("zqnlist.csv"))) << "nothing is saved for a refused name";
}

// A line the page does not list, because its first comma lies beyond the 4,096 bytes a line is
// read with, is no device to open, copy or rename either.
TEST_F(Controller, ALineWhoseFirstCommaIsBeyondTheReadableBytesIsNoDevice)
{
    writeIni();
    writeFile("zqnlist.csv", QByteArray(5000, 'A') + ",10.0.0.9,2024/05/01,09:15:30,far\r\n" + macOf(1)
                                 + ",10.0.0.1,2024/05/01,09:15:30,near\r\n");
    auto c = makeController();
    ASSERT_EQ(c->devices().count(), 2u);
    EXPECT_FALSE(c->device(0).has_value());
    EXPECT_TRUE(c->deviceUrl(0).isEmpty());
    EXPECT_FALSE(c->canRename(0));
    EXPECT_EQ(c->device(1)->name, QStringLiteral("near"));
    EXPECT_EQ(c->deviceUrl(1), QUrl(QStringLiteral("http://10.0.0.1")));
}

class Notices : public Controller {
protected:
    std::unique_ptr<MonitorController> makeNotifying(bool on)
    {
        writeIni(on ? QStringLiteral("NOTIFY=1\r\n") : QString());
        writeFile("oui.csv", "Registry,Assignment,Organization Name,Organization Address\nMA-L,02C3D7,Test Maker,x\n");
        auto c = makeController([this](MonitorController::Options& options) { options.makerFolder = dir.path(); });
        gathering = std::make_unique<DeviceNotices>(30);
        connectNotices(*c, *gathering);
        notices = std::make_unique<QSignalSpy>(c.get(), &MonitorController::noticeRaised);
        return c;
    }
    QString lastNotice() const { return notices->isEmpty() ? QString() : notices->last().at(1).toString(); }
    std::unique_ptr<DeviceNotices> gathering;
    std::unique_ptr<QSignalSpy> notices;
};

TEST_F(Notices, OneDeviceByNameSeveralByCountAndAMoveByItsAddresses)
{
    auto c = makeNotifying(true);
    c->handleDatagram(announcement(0xA1), "10.0.0.1");
    ASSERT_EVENTUALLY(notices->count() == 1);
    EXPECT_EQ(lastNotice(), QStringLiteral("新しい機器: %1 (10.0.0.1) Test Maker").arg(QLatin1String(macOf(0xA1))));

    for (quint32 tail = 0xA2; tail <= 0xA4; ++tail)
        c->handleDatagram(announcement(tail), "10.0.0.2");
    c->handleDatagram(announcement(0xA1), "10.0.0.1"); // heard again where it was: nothing to tell
    ASSERT_EVENTUALLY(notices->count() == 2);
    EXPECT_EQ(lastNotice(), QStringLiteral("新しい機器が 3 台見つかりました"));

    c->handleDatagram(announcement(0xA1), "10.0.0.9");
    ASSERT_EVENTUALLY(notices->count() == 3);
    EXPECT_EQ(lastNotice(),
              QStringLiteral("%1 の IP アドレスが 10.0.0.1 から 10.0.0.9 に変わりました").arg(QLatin1String(macOf(0xA1))));
}

// What one gathering window collects is told in one notice, new devices first.
TEST_F(Notices, OneWindowGathersNewAndMovedDevicesIntoOneNotice)
{
    struct Case {
        const char* name;
        std::vector<std::pair<quint32, const char*>> heard; // after 0xC1 at 10.0.0.1 and 0xC2 at 10.0.0.2
        QString notice;
    };
    const QString c1 = QLatin1String(macOf(0xC1));
    const std::vector<Case> cases{
        {"several moves", {{0xC1, "10.0.1.1"}, {0xC2, "10.0.1.2"}}, QStringLiteral("2 台の機器の IP アドレスが変わりました")},
        {"one new, one moved",
         {{0xC3, "10.0.0.3"}, {0xC1, "10.0.1.1"}},
         QStringLiteral("新しい機器: %1 (10.0.0.3) Test Maker\n%2 の IP アドレスが 10.0.0.1 から 10.0.1.1 に変わりました")
             .arg(QLatin1String(macOf(0xC3)), c1)},
        {"two new, two moved",
         {{0xC1, "10.0.1.1"}, {0xC3, "10.0.0.3"}, {0xC2, "10.0.1.2"}, {0xC4, "10.0.0.4"}},
         QStringLiteral("新しい機器が 2 台見つかりました\n2 台の機器の IP アドレスが変わりました")},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        auto c = makeNotifying(true);
        c->handleDatagram(announcement(0xC1), "10.0.0.1");
        c->handleDatagram(announcement(0xC2), "10.0.0.2");
        ASSERT_EVENTUALLY(notices->count() == 1);
        for (const auto& [tail, ip] : k.heard)
            c->handleDatagram(announcement(tail), ip);
        ASSERT_EVENTUALLY(notices->count() == 2);
        EXPECT_EQ(lastNotice(), k.notice);
        ASSERT_TRUE(c->shutDown());
        QFile::remove(dir.filePath("zqnlist.csv"));
    }
}

// Journal entries as the platform would send them, each as its fields without the program's name.
class Journal : public Controller {
protected:
    // makersRead: the makers' table is read before the first entry, which then goes out at once.
    std::unique_ptr<MonitorController> makeLogging(bool makersRead = true, int windowMs = 30)
    {
        writeIni();
        writeFile("oui.csv", "Registry,Assignment,Organization Name,Organization Address\nMA-L,02C3D7,Test Maker,x\n");
        auto c = makeController([this](MonitorController::Options& options) { options.makerFolder = dir.path(); });
        if (makersRead)
            c->makers().table();
        journal = std::make_unique<DeviceJournal>(
            [this](const JournalEntry& entry) {
                QStringList fields;
                for (const QByteArray& field : entry)
                    if (!field.startsWith("SYSLOG_IDENTIFIER="))
                        fields << QString::fromUtf8(field);
                entries << fields.join(u'|');
            },
            windowMs);
        connectJournal(*c, *journal);
        return c;
    }
    QStringList entries;
    std::unique_ptr<DeviceJournal> journal; // tells the rest when it goes
};

TEST_F(Journal, NewAndMovedDevicesCarryTheirFields)
{
    const QString named = QLatin1String(macOf(0xE2));
    // A name typed into the CSV file, in code page 932: 会議室.
    writeFile("zqnlist.csv", macOf(0xE2) + ",10.0.0.2,2024/05/01,09:00:00,\x89\xEF\x8B\x63\x8E\xBA\r\n");
    auto c = makeLogging(false);
    c->handleDatagram(announcement(0xE1), "10.0.0.1");
    c->handleDatagram(announcement(0xE2), "10.0.0.7");
    ASSERT_EVENTUALLY(entries.size() == 2);
    const QString added = QLatin1String(macOf(0xE1));
    EXPECT_EQ(entries.join(u'\n').toStdString(),
              QStringList({QStringLiteral("MESSAGE_ID=0c0e2e70ad5c4d0faae64e08f43d8d25|PRIORITY=5|MESSAGE=新しい機器: %1 "
                                          "(10.0.0.1) noname [Test Maker]|ZQN_MAC=%1|ZQN_IP=10.0.0.1|ZQN_NAME=noname|"
                                          "ZQN_MAKER=Test Maker")
                               .arg(added),
                           QStringLiteral("MESSAGE_ID=e1ee35e50ccd4c0fa6cb807e6d2b214b|PRIORITY=5|MESSAGE=%1 の IP アドレスが "
                                          "10.0.0.2 から 10.0.0.7 に変わりました 会議室|ZQN_MAC=%1|ZQN_IP=10.0.0.7|"
                                          "ZQN_OLD_IP=10.0.0.2|ZQN_NAME=会議室")
                               .arg(named)})
                  .join(u'\n')
                  .toStdString());
}

TEST_F(Journal, AFloodMakesAFewEntriesAndOneThatCountsTheRest)
{
    auto c = makeLogging();
    for (quint32 tail = 1; tail <= 1000; ++tail)
        c->handleDatagram(announcement(0x100000 + tail), "10.0.0.1");
    EXPECT_EQ(entries.size(), DeviceJournal::kEntriesPerWindow);
    ASSERT_EVENTUALLY(entries.size() == DeviceJournal::kEntriesPerWindow + 1);
    EXPECT_EQ(entries.last(), QStringLiteral("MESSAGE_ID=0c0e2e70ad5c4d0faae64e08f43d8d25|PRIORITY=5|"
                                             "MESSAGE=ほかに新しい機器が 995 台見つかりました|ZQN_COUNT=995"));
    c->handleDatagram(announcement(0x200001), "10.0.0.1"); // a new window tells it again
    EXPECT_EQ(entries.size(), DeviceJournal::kEntriesPerWindow + 2);
    for (quint32 tail = 2; tail <= 7; ++tail)
        c->handleDatagram(announcement(0x200000 + tail), "10.0.0.1");
    journal.reset(); // the end cuts the window short: its count is still told
    EXPECT_TRUE(entries.last().endsWith(QStringLiteral("|ZQN_COUNT=2"))) << entries.last().toStdString();
}

// Where a journal listens, what the platform sends is what journalctl reads back.
TEST(JournalSend, ReadsBackWithJournalctl)
{
    if (!QFileInfo::exists(QStringLiteral("/run/systemd/journal/socket")))
        GTEST_SKIP() << "no journal listens here";
    const QString mac = QStringLiteral("02-00-%1").arg(QDateTime::currentMSecsSinceEpoch());
    ASSERT_TRUE(sendToJournal({"MESSAGE=test", "PRIORITY=5", "ZQN_MAC=" + mac.toUtf8(), QByteArray("ZQN_NAME=会議室")}));
    QJsonObject read;
    ASSERT_TRUE(test::eventually([&] {
        QProcess journalctl;
        journalctl.start(QStringLiteral("journalctl"), {QStringLiteral("-o"), QStringLiteral("json"), QStringLiteral("ZQN_MAC=") + mac});
        journalctl.waitForFinished(10000);
        read = QJsonDocument::fromJson(journalctl.readAllStandardOutput().split('\n').value(0)).object();
        return !read.isEmpty();
    }, 10000)) << "journalctl may not read this journal";
    EXPECT_EQ(read.value(QStringLiteral("ZQN_NAME")).toString(), QStringLiteral("会議室"));
    EXPECT_EQ(read.value(QStringLiteral("PRIORITY")).toString(), QStringLiteral("5"));
}

// The cap warning goes out as a notice of its own at once, not gathered with new devices.
TEST_F(Notices, FullListWarningIsANotice)
{
    writeIni("MAXDEV=1\r\nNOTIFY=1\r\n");
    auto c = makeController();
    DeviceNotices gathering(30);
    connectNotices(*c, gathering);
    QSignalSpy told(c.get(), &MonitorController::noticeRaised);
    c->handleDatagram(announcement(0xD1), "10.0.0.1");
    c->handleDatagram(announcement(0xD2), "10.0.0.2");
    ASSERT_EQ(told.count(), 1);
    EXPECT_EQ(told.at(0).at(0).toString(), QStringLiteral("ZQN LIST"));
    EXPECT_EQ(told.at(0).at(1).toString(), QStringLiteral("機器数が上限 1 台に達しました。新しい機器は記録されません。"));
    ASSERT_EVENTUALLY(told.count() == 2);
    EXPECT_EQ(told.at(1).at(1).toString(), QStringLiteral("新しい機器: %1 (10.0.0.1)").arg(QLatin1String(macOf(0xD1))));
}

TEST_F(Notices, AreOffUntilAskedForAndTheChoiceIsSavedOnlyOnceMade)
{
    auto c = makeNotifying(false);
    EXPECT_FALSE(c->notifiesNewDevices());
    c->handleDatagram(announcement(0xB1), "10.0.0.1");
    runPastTimersDueWithin(60); // twice the gathering window
    EXPECT_EQ(notices->count(), 0);
    ASSERT_TRUE(c->shutDown());
    EXPECT_FALSE(readAll(iniPath()).contains("NOTIFY")) << "a file of someone who never chose stays as it was";

    auto d = makeNotifying(false);
    d->setNotifyNewDevices(true);
    d->handleDatagram(announcement(0xB2), "10.0.0.2");
    ASSERT_EVENTUALLY(notices->count() == 1);
    ASSERT_TRUE(d->shutDown());
    EXPECT_TRUE(readAll(iniPath()).contains("NOTIFY=1\r\n"));
}


// A full list keeps updating the devices it knows, turns new ones away, and says so: in the
// next tick's status, and at most once a minute as a warning of its own.
TEST_F(Controller, FullListRefusesNewDevicesAndSaysSo)
{
    interval = 1;
    writeIni("MAXDEV=2\r\n");
    auto c = makeController();
    QSignalSpy warnings(c.get(), &MonitorController::capWarningRaised);
    QSignalSpy ticks(c.get(), &MonitorController::updateTimeChanged);
    for (quint32 tail = 1; tail <= 4; ++tail)
        c->handleDatagram(announcement(tail), "10.0.0.1");
    c->handleDatagram(announcement(1), "10.0.0.7");
    EXPECT_EQ(c->devices().count(), 2u);
    EXPECT_EQ(c->device(0)->ip, QStringLiteral("10.0.0.7"));
    ASSERT_EQ(warnings.count(), 1);
    EXPECT_TRUE(warnings.at(0).at(0).toString().startsWith(QStringLiteral("機器数が上限 2 台に達しました")));

    c->start();
    ASSERT_EVENTUALLY(c->updateTime() != QString());
    EXPECT_EQ(c->statusText(), QStringLiteral("開始 機器数が上限 2 台に達しました"));
    EXPECT_EQ(c->runStatus(), QStringLiteral("開始"));
    ticks.clear();
    ASSERT_TRUE(ticks.wait(5000));
    EXPECT_EQ(c->statusText(), QStringLiteral("開始 機器数が上限 2 台に達しました")) << "still full, nothing refused";
    c->stop();
    EXPECT_EQ(c->statusText(), QStringLiteral("停止中"));
    EXPECT_EQ(csv().count('\n'), 2);
    EXPECT_EQ(warnings.count(), 1);
}

} // namespace
} // namespace zqn::app
