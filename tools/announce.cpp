// Device simulator: sends announcement datagrams for a range of MAC addresses, so the monitor can
// be tried and load-tested without real devices.

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QHostAddress>
#include <QHostInfo>
#include <QRegularExpression>
#include <QUdpSocket>

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint64_t kMacSpace = std::uint64_t{1} << 48;
constexpr int kLongFormLength = 20;
constexpr int kShortFormLength = 182;
// A full send buffer empties within milliseconds; this long without progress means it never will.
constexpr auto kGiveUpAfter = std::chrono::seconds(5);

struct Plan {
    QHostAddress host;
    quint16 port = 5000;
    std::uint64_t firstMac = 0;
    std::uint64_t macCount = 1;
    std::uint64_t total = 1;
    double rate = 0;
    bool shortForm = false;
};

std::optional<std::uint64_t> parseMac(const QString& text)
{
    const QStringList parts = text.split(QRegularExpression(QStringLiteral("[:-]")));
    if (parts.size() != 6)
        return std::nullopt;
    std::uint64_t mac = 0;
    for (const QString& part : parts) {
        bool ok = false;
        const uint octet = part.toUInt(&ok, 16);
        if (!ok || part.size() != 2 || octet > 0xFF)
            return std::nullopt;
        mac = (mac << 8) | octet;
    }
    return mac;
}

std::optional<std::uint64_t> parseCount(const QString& text, std::uint64_t least)
{
    bool ok = false;
    const qulonglong value = text.toULongLong(&ok);
    if (!ok || value < least)
        return std::nullopt;
    return value;
}

std::optional<QHostAddress> resolve(const QString& host)
{
    QHostAddress address(host);
    if (!address.isNull())
        return address.protocol() == QAbstractSocket::IPv4Protocol ? std::optional(address) : std::nullopt;
    for (const QHostAddress& found : QHostInfo::fromName(host).addresses()) {
        if (found.protocol() == QAbstractSocket::IPv4Protocol)
            return found;
    }
    return std::nullopt;
}

std::array<char, kShortFormLength> datagramFor(std::uint64_t mac, bool shortForm, int& length)
{
    std::array<char, kShortFormLength> bytes{};
    if (shortForm) {
        // The short form carries only the last two octets; the monitor supplies FF FF FF 00.
        bytes[4] = static_cast<char>((mac >> 8) & 0xFF);
        bytes[5] = static_cast<char>(mac & 0xFF);
        length = kShortFormLength;
        return bytes;
    }
    constexpr std::uint8_t head[14] = {0x08, 0x01, 0x00, 0x90, 0x00, 0x04, 0x00, 0x04, // header
                                       0x00, 0x01,                                     // record type 1
                                       0x00, 0x0C,                                     // 12 bytes of text
                                       0x00, 0x06};
    for (int i = 0; i < 14; ++i)
        bytes[i] = static_cast<char>(head[i]);
    for (int i = 0; i < 6; ++i)
        bytes[14 + i] = static_cast<char>((mac >> (8 * (5 - i))) & 0xFF);
    length = kLongFormLength;
    return bytes;
}

[[noreturn]] void fail(const QString& message)
{
    std::fprintf(stderr, "zqn-announce: %s\n", qPrintable(message));
    std::exit(2);
}

Plan planFrom(const QCommandLineParser& parser)
{
    Plan plan;
    const bool broadcast = parser.isSet(QStringLiteral("broadcast"));
    const QString host = parser.isSet(QStringLiteral("host"))
                             ? parser.value(QStringLiteral("host"))
                             : (broadcast ? QStringLiteral("255.255.255.255") : QStringLiteral("127.0.0.1"));
    const auto address = resolve(host);
    if (!address)
        fail(QStringLiteral("no IPv4 address for host '%1'").arg(host));
    plan.host = *address;
    if (plan.host == QHostAddress(QHostAddress::Broadcast) && !broadcast)
        fail(QStringLiteral("sending to 255.255.255.255 needs --broadcast"));

    const auto port = parseCount(parser.value(QStringLiteral("port")), 1);
    if (!port || *port > 0xFFFF)
        fail(QStringLiteral("--port must be 1-65535"));
    plan.port = static_cast<quint16>(*port);

    const auto mac = parseMac(parser.value(QStringLiteral("mac")));
    if (!mac)
        fail(QStringLiteral("--mac must be six hex octets, e.g. 02:C3:D7:00:00:01"));
    plan.firstMac = *mac;

    const auto macCount = parseCount(parser.value(QStringLiteral("count-macs")), 1);
    if (!macCount || *macCount > kMacSpace - plan.firstMac)
        fail(QStringLiteral("--count-macs must be at least 1 and stay below FF:FF:FF:FF:FF:FF"));
    plan.macCount = *macCount;

    if (parser.isSet(QStringLiteral("repeat")) && parser.isSet(QStringLiteral("total")))
        fail(QStringLiteral("give --repeat or --total, not both"));
    if (parser.isSet(QStringLiteral("total"))) {
        const auto total = parseCount(parser.value(QStringLiteral("total")), 0);
        if (!total)
            fail(QStringLiteral("--total must be a whole number"));
        plan.total = *total;
    } else {
        const auto repeat = parseCount(parser.value(QStringLiteral("repeat")), 0);
        if (!repeat || (*repeat != 0 && plan.macCount > UINT64_MAX / *repeat))
            fail(QStringLiteral("--repeat must be a whole number"));
        plan.total = plan.macCount * *repeat;
    }

    bool ok = false;
    plan.rate = parser.value(QStringLiteral("rate")).toDouble(&ok);
    if (!ok || plan.rate < 0)
        fail(QStringLiteral("--rate must be 0 or a positive number"));
    plan.shortForm = parser.isSet(QStringLiteral("short"));
    return plan;
}

// Sends one datagram, waiting while the send buffer is full; false when sending is impossible.
bool sendOne(QUdpSocket& socket, const char* data, int length, const Plan& plan)
{
    Clock::time_point stuckSince{};
    for (;;) {
        if (socket.writeDatagram(data, length, plan.host, plan.port) == length)
            return true;
        if (socket.error() != QAbstractSocket::TemporaryError) {
            std::fprintf(stderr, "zqn-announce: %s\n", qPrintable(socket.errorString()));
            return false;
        }
        const auto now = Clock::now();
        if (stuckSince == Clock::time_point{})
            stuckSince = now;
        else if (now - stuckSince > kGiveUpAfter) {
            std::fprintf(stderr, "zqn-announce: send buffer stayed full\n");
            return false;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("zqn-announce"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Sends device announcement datagrams over UDP, one per MAC address of a range, and stops "
        "when all are sent.\n"
        "Common form (20 bytes): header 08 01 00 90 00 04 00 04, record type 00 01, count 00 0C, "
        "00 06, then the six MAC octets.\n"
        "Short form (182 bytes, --short): MAC octets 5 and 6 at offsets 4 and 5, zeros elsewhere; "
        "the monitor reads it as FF:FF:FF:00:xx:yy."));
    parser.addHelpOption();
    parser.addOptions({
        {QStringLiteral("host"),
         QStringLiteral("Destination IPv4 address or host name (default 127.0.0.1; 255.255.255.255 "
                        "with --broadcast)."),
         QStringLiteral("address")},
        {QStringLiteral("port"), QStringLiteral("Destination UDP port (default 5000)."), QStringLiteral("port"), QStringLiteral("5000")},
        {QStringLiteral("mac"), QStringLiteral("First MAC address of the range, six hex octets separated by ':' or '-' "
                        "(default 02:C3:D7:00:00:01)."),
         QStringLiteral("mac"), QStringLiteral("02:C3:D7:00:00:01")},
        {QStringLiteral("count-macs"),
         QStringLiteral("Number of consecutive MAC addresses, counting up from --mac (carrying into "
                        "higher octets; default 1)."),
         QStringLiteral("n"), QStringLiteral("1")},
        {QStringLiteral("repeat"), QStringLiteral("How many times the whole range is sent (default 1)."),
         QStringLiteral("n"), QStringLiteral("1")},
        {QStringLiteral("total"),
         QStringLiteral("Send exactly n datagrams instead, cycling through the range; excludes --repeat."),
         QStringLiteral("n")},
        {QStringLiteral("rate"),
         QStringLiteral("Datagrams per second, evenly paced; 0 (the default) sends as fast as the socket accepts "
                        "them."),
         QStringLiteral("per-second"), QStringLiteral("0")},
        {QStringLiteral("broadcast"),
         QStringLiteral("Allow a broadcast destination (Qt permits broadcast on every UDP socket); "
                        "without --host the destination becomes 255.255.255.255.")},
        {QStringLiteral("short"), QStringLiteral("Send the 182-byte short form instead of the 20-byte common form.")},
    });
    parser.process(app);
    if (!parser.positionalArguments().isEmpty())
        fail(QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first()));
    const Plan plan = planFrom(parser);

    QUdpSocket socket;
    // An IPv4 socket, so a broadcast goes out as a plain IPv4 one, not through a mapped address.
    if (!socket.bind(QHostAddress::AnyIPv4, 0))
        fail(socket.errorString());
    const auto start = Clock::now();
    std::uint64_t sent = 0;
    bool failed = false;
    for (std::uint64_t i = 0; i < plan.total; ++i) {
        if (plan.rate > 0) {
            const auto due = start + std::chrono::duration_cast<Clock::duration>(
                                         std::chrono::duration<double>(static_cast<double>(i) / plan.rate));
            std::this_thread::sleep_until(due);
        }
        int length = 0;
        const auto bytes = datagramFor(plan.firstMac + i % plan.macCount, plan.shortForm, length);
        if (!sendOne(socket, bytes.data(), length, plan)) {
            failed = true;
            break;
        }
        ++sent;
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("sent %llu datagrams in %.3f s\n", static_cast<unsigned long long>(sent), seconds);
    return failed ? 1 : 0;
}
