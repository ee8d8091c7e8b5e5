// Load, malformed input, failing saves and crashes, each against a copy of the real monitor.

#include "monitor_fixture.h"

#include <QDateTime>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <csignal>
#include <filesystem>
#include <optional>
#include <ostream>
#include <set>
#include <thread>

#include <sys/resource.h>

namespace {

using zqn::e2e::announcement;
using zqn::e2e::eventually;
using zqn::e2e::macOf;
using zqn::e2e::MonitorProcess;
using zqn::e2e::MonitorSettings;

using namespace std::chrono_literals;

#ifdef ZQN_SANITIZED_BUILD
// A sanitized monitor handles a fraction of the datagrams per second; the rules are the same.
constexpr int kSlowdown = 5;
// AddressSanitizer pads every block and keeps freed ones in quarantine: resident memory then
// measures the sanitizer rather than the monitor.
constexpr bool kResidentMemoryIsTheMonitors = false;
#else
constexpr int kSlowdown = 1;
constexpr bool kResidentMemoryIsTheMonitors = true;
#endif

constexpr QByteArrayView kStampRowStart = "<TR><TD colspan=6 align=right>";
constexpr QByteArrayView kPageEnd = "</BODY></HTML>\r\n\r\n";
constexpr QByteArrayView kRowEnd = "</TD></FORM></TR>\r\n";

// The device lines of a CSV file as the monitor must leave it: complete lines only, each ending in
// CR LF, the last one included.
struct CsvFile {
    QList<QByteArray> macs;
    QList<QByteArray> names;
    QByteArray flaw; // the first thing that makes the file other than whole
};

CsvFile readCsv(const QByteArray& bytes)
{
    static const QRegularExpression deviceLine(QStringLiteral(
        R"(^([0-9A-F]{2}(?::[0-9A-F]{2}){5}),127\.0\.0\.1,\d{4}/\d\d/\d\d,\d\d:\d\d:\d\d,([^\r\n]*)$)"));
    CsvFile csv;
    for (qsizetype from = 0; from < bytes.size();) {
        const qsizetype end = bytes.indexOf("\r\n", from);
        const QByteArray line = bytes.mid(from, end < 0 ? -1 : end - from);
        if (end < 0) {
            csv.flaw = "cut off in line " + QByteArray::number(csv.macs.size() + 1) + ": " + line.left(80);
            break;
        }
        const auto match = deviceLine.match(QString::fromLatin1(line));
        if (!match.hasMatch()) {
            csv.flaw = "line " + QByteArray::number(csv.macs.size() + 1) + " is no device line: " + line.left(80);
            break;
        }
        csv.macs.append(match.captured(1).toLatin1());
        csv.names.append(match.captured(2).toLatin1());
        from = end + 2;
    }
    return csv;
}

QByteArray deviceLine(quint32 macTail, const QByteArray& name)
{
    return macOf(macTail) + ",127.0.0.1,2000/01/01,00:00:00," + name + "\r\n";
}

// The update time in the page's stamp row; empty while there is no page.
QByteArray pageStamp(const QString& pagePath)
{
    QFile page(pagePath);
    if (!page.open(QIODevice::ReadOnly))
        return {};
    const QByteArray head = page.read(8192);
    const qsizetype from = head.indexOf(kStampRowStart);
    const qsizetype to = head.indexOf("</TD></TR>", from);
    if (from < 0 || to < 0)
        return {};
    const qsizetype at = from + kStampRowStart.size();
    return head.mid(at, to - at);
}

QByteArray stampOf(const QDateTime& time)
{
    return time.toString(QStringLiteral("yyyy/MM/dd hh:mm:ss")).toLatin1();
}

QDateTime timeOf(const QByteArray& stamp)
{
    return QDateTime::fromString(QString::fromLatin1(stamp), QStringLiteral("yyyy/MM/dd hh:mm:ss"));
}

QStringList entriesOf(const QTemporaryDir& dir)
{
    return QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                                      QDir::Name);
}

struct SocketCounters {
    qint64 queuedBytes = 0;
    qint64 drops = 0;
};

// The kernel's account of the socket bound to this UDP port. Linux only.
std::optional<SocketCounters> socketCounters(quint16 port)
{
    QFile table(QStringLiteral("/proc/net/udp"));
    if (!table.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray portSuffix = ':' + QByteArray::number(port, 16).toUpper().rightJustified(4, '0');
    for (const QByteArray& row : table.readAll().split('\n')) {
        // sl local rem st tx_queue:rx_queue tr:when retrnsmt uid timeout inode ref pointer drops
        const QList<QByteArray> fields = row.simplified().split(' ');
        if (fields.size() < 13 || !fields[1].endsWith(portSuffix))
            continue;
        return SocketCounters{fields[4].split(':').value(1).toLongLong(nullptr, 16), fields.last().toLongLong()};
    }
    return std::nullopt;
}

// Datagrams the kernel dropped before any socket saw them (full per-CPU input queues), over all CPUs
// and all senders, so it can only overstate what this test lost.
std::optional<qint64> inputQueueDrops()
{
    QFile table(QStringLiteral("/proc/net/softnet_stat"));
    if (!table.open(QIODevice::ReadOnly))
        return std::nullopt;
    qint64 drops = 0;
    for (const QByteArray& row : table.readAll().split('\n')) {
        const QList<QByteArray> fields = row.simplified().split(' ');
        if (fields.size() >= 2)
            drops += fields[1].toLongLong(nullptr, 16);
    }
    return drops;
}

// Waits until the monitor has read everything the kernel holds for it. How long that takes depends
// on the machine: a full list makes every page write long, and the reads come between them. What
// fails is a backlog that two page writes in a row leave untouched, or a /proc table that cannot
// be read (Linux always has it).
bool drained(quint16 port, const QString& pagePath)
{
    qint64 leastQueued = -1;
    QByteArray lastStamp = pageStamp(pagePath);
    int ticksWithoutReading = 0;
    const QDeadlineTimer hung(15min); // only so that a hang ends the test
    while (!hung.hasExpired()) {
        const auto counters = socketCounters(port);
        if (!counters)
            return false;
        if (counters->queuedBytes == 0)
            return true;
        const QByteArray stamp = pageStamp(pagePath);
        if (leastQueued < 0 || counters->queuedBytes < leastQueued) {
            leastQueued = counters->queuedBytes;
            ticksWithoutReading = 0;
        } else if (stamp != lastStamp && ++ticksWithoutReading == 2) {
            return false;
        }
        lastStamp = stamp;
        QTest::qWait(20);
    }
    return false;
}

// True while the process holds a file of this folder open, which the monitor does only to load or
// write one.
bool holdsFileIn(qint64 pid, const QString& folder)
{
    namespace fs = std::filesystem;
    std::error_code error;
    const std::string prefix = folder.toStdString() + '/';
    for (fs::directory_iterator fd("/proc/" + std::to_string(pid) + "/fd", error), end; !error && fd != end;
         fd.increment(error)) {
        std::error_code gone;
        if (fs::read_symlink(fd->path(), gone).string().starts_with(prefix))
            return true;
    }
    return false;
}

// ---------------------------------------------------------------------------------------------

constexpr quint32 kFirstMac = 1; // zqn-announce's default first MAC, 02:C3:D7:00:00:01

struct Load {
    const char* name;
    int macs;
    int total; // datagrams, cycling through the MACs, so each MAC goes total / macs times
    int rate;  // per second; 0 sends as fast as the socket takes them
};

void PrintTo(const Load& load, std::ostream* out)
{
    *out << load.name;
}

class MonitorUnderLoad : public MonitorProcess, public testing::WithParamInterface<Load> {};

// A flood may overflow the kernel's buffer, but what reaches the socket must reach the CSV file, and
// the page ticks go on while the monitor works through the backlog and after it.
TEST_P(MonitorUnderLoad, TicksKeepTimeAndEveryReceivedDeviceIsSaved)
{
    const Load load = GetParam();
    const QString pagePath = dir.filePath("zqnlist.htm");
    start();
    ASSERT_TRUE(eventually([&] { return !pageStamp(pagePath).isEmpty(); }));
    const auto socketBefore = socketCounters(port);
    const auto queueDropsBefore = inputQueueDrops();
    ASSERT_TRUE(socketBefore && queueDropsBefore) << "the kernel's counters cannot be read";

    QList<QByteArray> stamps;
    const auto sampleStamp = [&] {
        const QByteArray stamp = pageStamp(pagePath);
        if (!stamp.isEmpty() && (stamps.isEmpty() || stamps.last() != stamp))
            stamps.append(stamp);
    };
    sampleStamp(); // the page before the first datagram opens the sequence

    QProcess announcer;
    announcer.start(QStringLiteral(ZQN_ANNOUNCE),
                    {"--port", QString::number(port), "--count-macs", QString::number(load.macs), "--total",
                     QString::number(load.total), "--rate", QString::number(load.rate)});
    ASSERT_TRUE(announcer.waitForStarted());
    const QDeadlineTimer sending(120s);
    while (!announcer.waitForFinished(50) && !sending.hasExpired())
        sampleStamp();
    ASSERT_EQ(announcer.state(), QProcess::NotRunning) << "the simulator did not finish in time";
    const QByteArray sendEnd = stampOf(QDateTime::currentDateTime());
    ASSERT_EQ(announcer.exitCode(), 0) << announcer.readAllStandardError().toStdString();
    ASSERT_TRUE(announcer.readAllStandardOutput().startsWith("sent " + QByteArray::number(load.total) + " "));

    // The monitor works off what the kernel holds, and the ticks go on after the last datagram.
    ASSERT_TRUE(drained(port, pagePath)) << "the monitor did not work off the backlog";
    EXPECT_TRUE(eventually(
        [&] {
            sampleStamp();
            return !stamps.isEmpty() && stamps.last() > sendEnd;
        },
        20000 * kSlowdown))
        << "no tick after the last datagram";
    const auto socketAfter = socketCounters(port);
    const auto queueDropsAfter = inputQueueDrops();
    ASSERT_TRUE(socketAfter && queueDropsAfter) << "the kernel's counters cannot be read";
    ASSERT_EQ(process.state(), QProcess::Running);
    terminate(SIGTERM); // its last write holds everything the monitor read

    ASSERT_FALSE(stamps.isEmpty());
    qint64 longestGap = 0;
    QByteArray gapEnds;
    for (qsizetype i = 1; i < stamps.size(); ++i) {
        const qint64 gap = timeOf(stamps[i - 1]).secsTo(timeOf(stamps[i]));
        EXPECT_GT(gap, 0) << "stamps out of order: " << stamps[i - 1].data() << " then " << stamps[i].data();
        if (gap > longestGap) {
            longestGap = gap;
            gapEnds = stamps[i - 1] + " .. " + stamps[i];
        }
    }
    // How late a tick may come depends on the machine, not on the monitor: reported, not judged.

    const CsvFile csv = readCsv(file("zqnlist.csv"));
    ASSERT_TRUE(csv.flaw.isEmpty()) << csv.flaw.data();
    std::set<QByteArray> sentMacs;
    for (int i = 0; i < load.macs; ++i)
        sentMacs.insert(macOf(kFirstMac + static_cast<quint32>(i)));
    const std::set<QByteArray> savedMacs(csv.macs.cbegin(), csv.macs.cend());
    EXPECT_EQ(savedMacs.size(), static_cast<std::size_t>(csv.macs.size())) << "a MAC stands on two lines";
    EXPECT_TRUE(std::includes(sentMacs.cbegin(), sentMacs.cend(), savedMacs.cbegin(), savedMacs.cend()))
        << "a MAC that nobody sent";
    EXPECT_EQ(csv.names.count("noname"), csv.names.size());

    // Recorded = delivered - dropped. The socket's own drops are exact; the input queues' count all
    // traffic of the machine, so it can only make the lower bound lower.
    const qint64 socketDrops = socketAfter->drops - socketBefore->drops;
    const qint64 queueDrops = *queueDropsAfter - *queueDropsBefore;
    const QByteArray kernelAccount = "socket drops " + QByteArray::number(socketDrops) + ", input queue drops "
                                     + QByteArray::number(queueDrops);
    // Each MAC went total / macs times, so the datagrams that reached the socket name at least
    // this many different MACs, and at most as many as reached it.
    const qint64 repeats = load.total / load.macs;
    EXPECT_GE(csv.macs.size() * repeats, load.total - socketDrops - queueDrops) << kernelAccount.data();
    EXPECT_LE(csv.macs.size(), load.total - socketDrops) << kernelAccount.data();
    if (repeats == 1 && queueDrops == 0) {
        EXPECT_EQ(csv.macs.size(), load.total - socketDrops) << kernelAccount.data();
    }
    std::printf("[   INFO   ] %s: %lld devices saved, %lld page ticks, longest gap %lld s (%s), %s\n", load.name,
                static_cast<long long>(csv.macs.size()), static_cast<long long>(stamps.size()),
                static_cast<long long>(longestGap), gapEnds.data(), kernelAccount.data());
}

INSTANTIATE_TEST_SUITE_P(
    Stress, MonitorUnderLoad,
    testing::Values(Load{"flood", 50000 / kSlowdown, 200000 / kSlowdown, 0},
                    Load{"paced", 50000 / kSlowdown, 50000 / kSlowdown, 2500 / kSlowdown}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------

// A figure of /proc/<pid>/status in KiB ("VmRSS", "VmHWM"); -1 when it cannot be read. Linux only.
qint64 statusKib(qint64 pid, QByteArrayView key)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& row : status.readAll().split('\n')) {
        if (row.startsWith(key) && row.size() > key.size() && row[key.size()] == ':')
            return row.mid(key.size() + 1).simplified().split(' ').value(0).toLongLong();
    }
    return -1;
}

constexpr qint64 kDefaultCap = 65'536;
constexpr qint64 kMostBytesPerDevice = 300;
// The longest line the monitor writes for an announced device: MAC 17, a dotted address of at most
// 15, date 10, time 8, "noname" and four commas.
constexpr qint64 kLongestCsvLine = 17 + 15 + 10 + 8 + 6 + 4;
// Row 1 of a device from 127.0.0.1 named "noname" takes 277 bytes of the page; at the cap the row
// number has five digits, and a row shows an address of up to 15 bytes twice.
constexpr qint64 kLongestPageRow = 277 + 4 + 2 * (15 - 9);

class MonitorAtTheCap : public MonitorProcess {};

// Any host can announce made-up MACs without end: with the default cap the list, the memory and
// both files stop growing at the cap, and the devices held are still kept up to date.
TEST_F(MonitorAtTheCap, FloodOfNewMacsStopsAtTheCapAndKnownDevicesStillUpdate)
{
    constexpr int kFloodMacs = 1'000'000;
    const QString pagePath = dir.filePath("zqnlist.htm");
    start();
    // Two page writes: the empty monitor has written its files and settled.
    QByteArray firstStamp;
    ASSERT_TRUE(eventually([&] { return !(firstStamp = pageStamp(pagePath)).isEmpty(); }));
    ASSERT_TRUE(eventually([&] {
        const QByteArray stamp = pageStamp(pagePath);
        return !stamp.isEmpty() && stamp != firstStamp;
    }));
    const qint64 pid = process.processId();
    const qint64 emptyKib = statusKib(pid, "VmRSS");
    ASSERT_GT(emptyKib, 0);
    const qint64 emptyPage = file("zqnlist.htm").size();
    // Floods of MACs never sent before, until the kernel's counters show that more new devices
    // reached the socket than the cap allows: how many get through depends on the machine.
    qint64 delivered = 0;
    qint64 socketDrops = 0;
    qint64 queueDrops = 0;
    for (int round = 0; round < 8 && delivered <= kDefaultCap; ++round) {
        const auto socketBefore = socketCounters(port);
        const auto queueDropsBefore = inputQueueDrops();
        ASSERT_TRUE(socketBefore && queueDropsBefore) << "the kernel's counters cannot be read";
        QProcess announcer;
        announcer.start(QStringLiteral(ZQN_ANNOUNCE),
                        {"--port", QString::number(port), "--mac",
                         round == 0 ? QStringLiteral("02:C3:D7:00:00:01") : QStringLiteral("0A:%1:00:00:00:00").arg(round, 2, 10, QLatin1Char('0')),
                         "--count-macs", QString::number(kFloodMacs), "--total", QString::number(kFloodMacs), "--rate", "0"});
        ASSERT_TRUE(announcer.waitForFinished(60000 * kSlowdown)) << "the simulator did not finish in time";
        ASSERT_EQ(announcer.exitCode(), 0) << announcer.readAllStandardError().toStdString();
        ASSERT_TRUE(drained(port, pagePath)) << "the monitor did not work off the backlog";
        const auto socketAfter = socketCounters(port);
        const auto queueDropsAfter = inputQueueDrops();
        ASSERT_TRUE(socketAfter && queueDropsAfter) << "the kernel's counters cannot be read";
        socketDrops += socketAfter->drops - socketBefore->drops;
        queueDrops += *queueDropsAfter - *queueDropsBefore;
        // Every MAC of the flood is new, so each datagram that reached the socket asked for a line.
        delivered += kFloodMacs - (socketAfter->drops - socketBefore->drops) - (*queueDropsAfter - *queueDropsBefore);
    }
    ASSERT_GT(delivered, kDefaultCap) << "the floods did not reach the cap: socket drops " << socketDrops
                                      << ", input queue drops " << queueDrops;
    // Worked off: a tick began after the one that may have been writing then.
    for (int tick = 0; tick < 2; ++tick) {
        const QByteArray stamp = pageStamp(pagePath);
        ASSERT_TRUE(eventually([&] { return pageStamp(pagePath) != stamp; }, 60000 * kSlowdown));
    }

    const QByteArray csvBytes = file("zqnlist.csv");
    const CsvFile csv = readCsv(csvBytes);
    ASSERT_TRUE(csv.flaw.isEmpty()) << csv.flaw.data();
    EXPECT_EQ(csv.macs.size(), kDefaultCap);
    EXPECT_LE(csvBytes.size(), kDefaultCap * (kLongestCsvLine + 2));
    EXPECT_LE(file("zqnlist.htm").size(), emptyPage + kDefaultCap * kLongestPageRow);

    // One of the first devices, heard from another host: its line changes in place.
    ASSERT_FALSE(csv.macs.isEmpty());
    const QByteArray known = csv.macs.first();
    const quint32 knownTail = QByteArray(known.right(8)).replace(':', "").toUInt(nullptr, 16);
    QUdpSocket otherHost;
    ASSERT_TRUE(otherHost.bind(QHostAddress(QStringLiteral("127.0.0.2")), 0));
    ASSERT_EQ(otherHost.writeDatagram(announcement(knownTail), QHostAddress::LocalHost, port), 20);
    QByteArray updated;
    EXPECT_TRUE(eventually([&] { return (updated = file("zqnlist.csv")).startsWith(known + ",127.0.0.2,"); },
                           60000 * kSlowdown))
        << "the first line is still " << updated.left(updated.indexOf('\r')).data();
    EXPECT_EQ(updated.count("\r\n"), kDefaultCap);

    // The peak, so that a passing surge during the flood or a page write counts too.
    const qint64 peakKib = statusKib(pid, "VmHWM");
    if (kResidentMemoryIsTheMonitors) {
        EXPECT_LT((peakKib - emptyKib) * 1024, kDefaultCap * kMostBytesPerDevice)
            << "empty " << emptyKib << " KiB, peak " << peakKib << " KiB";
    }
    ASSERT_EQ(process.state(), QProcess::Running);
    terminate(SIGTERM);
    std::printf("[   INFO   ] %lld devices saved; socket drops %lld, input queue drops %lld; "
                "%lld KiB empty, %lld KiB at the peak\n",
                static_cast<long long>(csv.macs.size()), static_cast<long long>(socketDrops),
                static_cast<long long>(queueDrops), static_cast<long long>(emptyKib),
                static_cast<long long>(peakKib));
}

// ---------------------------------------------------------------------------------------------

class MonitorInput : public MonitorProcess {};

TEST_F(MonitorInput, RandomDatagramsOfEveryLengthLeaveOnlyWhatIsAccepted)
{
    start();
    ASSERT_TRUE(eventually([&] { return exists("zqnlist.htm"); }));

    QRandomGenerator random(20240501);
    QList<QByteArray> accepted;
    const auto before = socketCounters(port);
    ASSERT_TRUE(before) << "the kernel's counters cannot be read";
    QUdpSocket sender;
    for (int length = 0; length <= 2100; ++length) {
        QByteArray bytes(length, '\0');
        for (char& byte : bytes)
            byte = static_cast<char>(random.bounded(256));
        if (length == 182) {
            // The short form: whatever it holds, it names FF:FF:FF:00 and its bytes 4 and 5.
            accepted.append(QStringLiteral("FF:FF:FF:00:%1:%2")
                                .arg(quint8(bytes[4]), 2, 16, QLatin1Char('0'))
                                .arg(quint8(bytes[5]), 2, 16, QLatin1Char('0'))
                                .toUpper()
                                .toLatin1());
        } else if (length >= 2048) {
            // A sound announcement padded out: beyond the 2048-byte receive buffer it is dropped, not cut.
            const quint32 macTail = 0xEE0000 | static_cast<quint32>(length);
            bytes.replace(0, 20, announcement(macTail));
            if (length == 2048)
                accepted.append(macOf(macTail));
        } else {
            // Spoils all three acceptance marks: record type 00 01 and the prefixes FF FF FF and 02 C3 D7.
            if (length > 8)
                bytes[8] = static_cast<char>(1 + random.bounded(255));
            if (length > 14)
                bytes[14] = static_cast<char>(0x10 + random.bounded(0xE0));
        }
        ASSERT_EQ(sender.writeDatagram(bytes, QHostAddress::LocalHost, port), length);
        // This test is about content: 16 datagrams at a time stay far below any receive buffer, and
        // the next ones go only once the monitor has read them.
        if (length % 16 == 15) {
            ASSERT_TRUE(drained(port, dir.filePath("zqnlist.htm"))) << "the monitor stopped reading at length " << length;
        }
    }
    const quint32 lastMac = 0xABCDEF;
    send(announcement(lastMac));
    accepted.append(macOf(lastMac));

    EXPECT_TRUE(eventually([&] { return file("zqnlist.csv").contains(macOf(lastMac)); }));
    ASSERT_EQ(process.state(), QProcess::Running);
    const auto after = socketCounters(port);
    ASSERT_TRUE(after) << "the kernel's counters cannot be read";
    ASSERT_EQ(after->drops, before->drops) << "the kernel dropped datagrams: the paced sending is broken";
    terminate(SIGTERM);
    const CsvFile csv = readCsv(file("zqnlist.csv"));
    ASSERT_TRUE(csv.flaw.isEmpty()) << csv.flaw.data();
    EXPECT_EQ(csv.macs, accepted);
    EXPECT_EQ(csv.names.count("noname"), csv.names.size());
}

// ---------------------------------------------------------------------------------------------

struct BrokenPath {
    const char* name;
    QByteArray csvPath;
    QByteArray htmlPath;
    const char* written; // the one of the two that can be saved
};

void PrintTo(const BrokenPath& paths, std::ostream* out)
{
    *out << paths.name;
}

class MonitorSaveFailure : public MonitorProcess, public testing::WithParamInterface<BrokenPath> {};

// One file in a folder that does not exist: the monitor goes on running and writing the other.
TEST_P(MonitorSaveFailure, MissingFolderLeavesTheOtherFileComing)
{
    const BrokenPath paths = GetParam();
    MonitorSettings settings;
    settings.csvPath = paths.csvPath;
    settings.htmlPath = paths.htmlPath;
    start(settings);
    ASSERT_TRUE(eventually([&] { return exists(paths.written); }));
    send(announcement(0x41));
    EXPECT_TRUE(eventually([&] { return file(paths.written).contains(macOf(0x41)); }));
    ASSERT_EQ(process.state(), QProcess::Running);
    terminate(SIGTERM);
    // Neither the missing folder nor a temporary file may be left behind.
    QStringList expected{"zqnlist", "zqnlist.Ini", paths.written};
    expected.sort();
    EXPECT_EQ(entriesOf(dir), expected);
}

INSTANTIATE_TEST_SUITE_P(Stress, MonitorSaveFailure,
                         testing::Values(BrokenPath{"csv_folder_missing", "missing/zqnlist.csv", "zqnlist.htm",
                                                    "zqnlist.htm"},
                                         BrokenPath{"page_folder_missing", "zqnlist.csv", "missing/zqnlist.htm",
                                                    "zqnlist.csv"}),
                         [](const auto& info) { return std::string(info.param.name); });

struct CsvSize {
    const char* name;
    quint32 unlistedLines;
};

void PrintTo(const CsvSize& size, std::ostream* out)
{
    *out << size.name;
}

class MonitorFileSizeLimit : public MonitorProcess, public testing::WithParamInterface<CsvSize> {};

// Sizes on either side of a 16 KiB write buffer: a short file reaches the disk only when it is closed.
TEST_P(MonitorFileSizeLimit, CsvThatOutgrowsTheLimitLeavesTheLastWholeOne)
{
    const quint32 first = 0x100001;
    const quint32 second = 0x100002;
    // The empty third line ends the page's listing, so the page lists the first two devices only and
    // stays small enough to be written, while the CSV file holds everything.
    QByteArray seed = deviceLine(first, "first") + deviceLine(second, "second") + "\r\n";
    for (quint32 i = 0; i < GetParam().unlistedLines; ++i)
        seed += deviceLine(0x100100 + i, "unlisted");
    {
        QFile csv(dir.filePath("zqnlist.csv"));
        ASSERT_TRUE(csv.open(QIODevice::WriteOnly));
        ASSERT_EQ(csv.write(seed), seed.size());
    }
    // An update keeps a line's length; one more device line (56 bytes) no longer fits.
    const rlim_t limit = static_cast<rlim_t>(seed.size()) + 40;
    MonitorSettings limited;
    limited.childSetup = [limit] {
        const rlimit fileSize{limit, limit};
        ::setrlimit(RLIMIT_FSIZE, &fileSize); // as ulimit -f or LimitFSIZE= set it, with SIGXFSZ's default
    };
    start(limited);
    const QString pagePath = dir.filePath("zqnlist.htm");
    ASSERT_TRUE(eventually([&] { return file("zqnlist.htm").contains(macOf(second)); }));

    send(announcement(first));
    ASSERT_TRUE(eventually([&] {
        const QByteArray csv = file("zqnlist.csv");
        return csv.startsWith(macOf(first)) && !csv.startsWith(deviceLine(first, "first"));
    })) << "an update that keeps the size was not saved";
    const QByteArray lastWhole = file("zqnlist.csv");
    EXPECT_EQ(lastWhole.size(), seed.size());

    send(announcement(0x200001));
    send(announcement(second));
    ASSERT_TRUE(eventually([&] { return !file("zqnlist.htm").contains("2000/01/01"); }))
        << "the page stopped showing updates";
    // The CSV save follows the page in the same tick; one tick more makes sure it was tried.
    const QByteArray stamp = pageStamp(pagePath);
    ASSERT_TRUE(eventually([&] { return pageStamp(pagePath) != stamp; }));
    EXPECT_EQ(file("zqnlist.csv").toStdString(), lastWhole.toStdString());
    ASSERT_EQ(process.state(), QProcess::Running);

    terminate(SIGTERM);
    EXPECT_EQ(file("zqnlist.csv").toStdString(), lastWhole.toStdString());
    EXPECT_EQ(entriesOf(dir), QStringList({"zqnlist", "zqnlist.Ini", "zqnlist.csv", "zqnlist.htm"}));
}

INSTANTIATE_TEST_SUITE_P(Stress, MonitorFileSizeLimit,
                         testing::Values(CsvSize{"csv_of_2_kib", 40}, CsvSize{"csv_of_33_kib", 600}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------

class MonitorKill : public MonitorProcess {};

// SIGKILL at random moments, half of them while a file is being written: every time, the CSV file and
// the page are whole copies of some tick, never cut off.
TEST_F(MonitorKill, SigkillLeavesWholeFiles)
{
    const int seeded = 20000 / kSlowdown;
    constexpr int kRounds = 8;
    constexpr int kPerRound = 200;
    QList<QByteArray> saved; // the MACs of the last CSV file, in file order
    {
        QByteArray seed;
        for (int i = 0; i < seeded; ++i) {
            seed += deviceLine(0x300000 + static_cast<quint32>(i), "seed");
            saved.append(macOf(0x300000 + static_cast<quint32>(i)));
        }
        QFile csv(dir.filePath("zqnlist.csv"));
        ASSERT_TRUE(csv.open(QIODevice::WriteOnly));
        ASSERT_EQ(csv.write(seed), seed.size());
    }
    const QString pagePath = dir.filePath("zqnlist.htm");
    const QString folder = QFileInfo(dir.path()).canonicalFilePath();
    const auto pageWritten = [&] {
        const QFileInfo page(pagePath);
        return page.exists() ? page.lastModified().toMSecsSinceEpoch() : qint64(-1);
    };
    QRandomGenerator random(4711);
    quint32 nextMac = 0x400000;
    int killsDuringWrites = 0;
    for (int round = 0; round < kRounds; ++round) {
        SCOPED_TRACE(round);
        const qint64 previousPage = pageWritten();
        start();
        const qint64 pid = process.processId();
        ASSERT_TRUE(eventually([&] { return pageWritten() > previousPage; }, 15000));

        QList<QByteArray> sent;
        QUdpSocket sender;
        for (int i = 0; i < kPerRound; ++i, ++nextMac) {
            sent.append(macOf(nextMac));
            ASSERT_EQ(sender.writeDatagram(announcement(nextMac), QHostAddress::LocalHost, port), 20);
        }
        if (round % 2 == 0) {
            // Past the first tick's CSV write, then into the next tick: its page write holds a file
            // for some 15 ms, and the CSV write follows within another 20 ms.
            std::this_thread::sleep_for(300ms);
            const QDeadlineTimer nextTick(3s);
            while (!holdsFileIn(pid, folder) && !nextTick.hasExpired())
                std::this_thread::sleep_for(1ms);
            std::this_thread::sleep_for(std::chrono::microseconds(random.bounded(40000)));
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(random.bounded(2000)));
        }
        killsDuringWrites += holdsFileIn(pid, folder) ? 1 : 0;
        ASSERT_EQ(::kill(static_cast<pid_t>(pid), SIGKILL), 0);
        ASSERT_TRUE(process.waitForFinished(10000));

        const CsvFile csv = readCsv(file("zqnlist.csv"));
        ASSERT_TRUE(csv.flaw.isEmpty()) << csv.flaw.data();
        // What the last file held, then the first of this round's devices in the order they were sent.
        ASSERT_GE(csv.macs.size(), saved.size());
        const qsizetype added = csv.macs.size() - saved.size();
        ASSERT_LE(added, kPerRound);
        EXPECT_EQ(csv.macs.first(saved.size()), saved);
        EXPECT_EQ(csv.macs.sliced(saved.size()), sent.first(added));
        EXPECT_EQ(csv.names.count("seed"), seeded);

        const QByteArray page = file("zqnlist.htm");
        ASSERT_TRUE(page.startsWith("<HTML><HEAD>\r\n"));
        ASSERT_TRUE(page.endsWith(kPageEnd)) << "the page is cut off";
        const qsizetype rows = page.count(kRowEnd);
        // The page may be one tick ahead of the CSV file, never behind what this run loaded.
        EXPECT_GE(rows, saved.size());
        EXPECT_LE(rows, saved.size() + kPerRound);
        EXPECT_EQ(page.count("\r\n"), 41 + 5 * rows) << "the page is not one tick's page";
        saved = csv.macs;
    }
    std::printf("[   INFO   ] %d of %d kills fell while the monitor held a file open; %lld devices saved\n",
                killsDuringWrites, kRounds, static_cast<long long>(saved.size()));
}

} // namespace
