#include "discovery/udp_listener.h"

#include "app/platform.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QHostAddress>
#include <QUdpSocket>

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace zqn::discovery {
namespace {

// The suite runs twice: with the batched receive, and with ZQN_TEST_PORTABLE_RECEIVE=1 over the
// portable path that the listener takes without a batch reader.
bool portable()
{
    return qEnvironmentVariable("ZQN_TEST_PORTABLE_RECEIVE") == QLatin1String("1");
}

std::unique_ptr<DatagramBatchReader> reader()
{
    return portable() ? nullptr : app::datagramBatchReader();
}

struct Arrival {
    QByteArray bytes;
    QByteArray fromIp;
    quint16 fromPort = 0;
};

// Copies every notice, since its views die with it.
struct Recorder {
    explicit Recorder(UdpListener& listener)
    {
        QObject::connect(&listener, &UdpListener::dataReceived,
                         [this](QByteArrayView datagram, QByteArrayView fromIp, quint16 fromPort) {
                             arrivals.push_back({datagram.toByteArray(), fromIp.toByteArray(), fromPort});
                         });
    }
    std::vector<Arrival> arrivals;
};

bool runEventsUntil(const std::function<bool()>& done)
{
    QDeadlineTimer deadline(10'000);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

// A sender with a known port of its own, on loopback.
struct Sender {
    explicit Sender(const QHostAddress& host = QHostAddress(QHostAddress::LocalHost))
    {
        EXPECT_TRUE(socket.bind(host, 0)) << socket.errorString().toStdString();
    }
    void send(const QByteArray& bytes, quint16 port)
    {
        ASSERT_EQ(socket.writeDatagram(bytes, QHostAddress::LocalHost, port), bytes.size());
    }
    QUdpSocket socket;
};

const QByteArray kMarker = "marker";

// Sends the datagram, then a marker; by the time the marker arrives the datagram has either
// arrived or been dropped, so nothing has to wait for "nothing happens".
std::vector<Arrival> arrivalsBeforeMarker(const QByteArray& datagram)
{
    UdpListener listener(reader());
    Recorder recorder(listener);
    Sender sender;
    sender.send(datagram, listener.boundPort());
    sender.send(kMarker, listener.boundPort());
    if (!runEventsUntil([&] { return !recorder.arrivals.empty() && recorder.arrivals.back().bytes == kMarker; })) {
        ADD_FAILURE() << "the marker never arrived";
        return recorder.arrivals;
    }
    recorder.arrivals.pop_back();
    return recorder.arrivals;
}

QByteArray patterned(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 7 + 3) & 0xFF);
    return bytes;
}

struct SizeCase {
    const char* name;
    qsizetype size;
    bool delivered;
};

class DatagramSize : public testing::TestWithParam<SizeCase> {};

TEST_P(DatagramSize, IsDeliveredWholeUpTo2048Bytes)
{
    const QByteArray datagram = patterned(GetParam().size);
    const auto arrivals = arrivalsBeforeMarker(datagram);
    if (!GetParam().delivered) {
        EXPECT_TRUE(arrivals.empty());
        return;
    }
    ASSERT_EQ(arrivals.size(), 1u);
    EXPECT_EQ(arrivals[0].bytes.size(), GetParam().size);
    EXPECT_EQ(arrivals[0].bytes, datagram);
}

INSTANTIATE_TEST_SUITE_P(Cases, DatagramSize,
                         testing::Values(SizeCase{"empty", 0, true}, SizeCase{"one_byte", 1, true},
                                         SizeCase{"announcement", 20, true}, SizeCase{"short_form", 182, true},
                                         SizeCase{"largest_kept", 2048, true}, SizeCase{"one_over", 2049, false},
                                         SizeCase{"largest_ipv4", 65507, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(UdpListener, NamesTheSenderAddressAndPort)
{
    UdpListener listener(reader());
    Recorder recorder(listener);
    Sender sender;
    sender.send("hello", listener.boundPort());
    ASSERT_TRUE(runEventsUntil([&] { return !recorder.arrivals.empty(); }));
    EXPECT_EQ(recorder.arrivals[0].fromIp, "127.0.0.1");
    EXPECT_EQ(recorder.arrivals[0].fromPort, sender.socket.localPort());
}

TEST(UdpListener, StartsBoundToAPortOfTheSystemsChoice)
{
    UdpListener listener(reader());
    EXPECT_EQ(listener.localPort(), 0);
    EXPECT_NE(listener.boundPort(), 0);
}

TEST(UdpListener, SettingTheSamePortRecreatesTheSocket)
{
    UdpListener listener(reader());
    const quint16 port = listener.boundPort();
    ASSERT_TRUE(listener.setLocalPort(port));
    Recorder recorder(listener);
    Sender sender;
    sender.send("waiting in the first socket", port);
    ASSERT_TRUE(listener.setLocalPort(port));
    EXPECT_EQ(listener.localPort(), port);
    EXPECT_EQ(listener.boundPort(), port);
    sender.send("to the second socket", port);
    ASSERT_TRUE(runEventsUntil([&] { return !recorder.arrivals.empty(); }));
    // What waited in the closed socket went with it.
    EXPECT_EQ(recorder.arrivals[0].bytes, "to the second socket");
    EXPECT_EQ(recorder.arrivals.size(), 1u);
}

TEST(UdpListener, PortZeroStopsDeliveryFromTheOldPortAndFreesIt)
{
    UdpListener listener(reader());
    const quint16 oldPort = listener.boundPort();
    ASSERT_TRUE(listener.setLocalPort(oldPort));
    Recorder recorder(listener);
    ASSERT_TRUE(listener.setLocalPort(0));
    EXPECT_EQ(listener.localPort(), 0);
    ASSERT_NE(listener.boundPort(), 0);
    EXPECT_NE(listener.boundPort(), oldPort);

    Sender sender;
    sender.send("to the old port", oldPort);
    sender.send(kMarker, listener.boundPort());
    ASSERT_TRUE(runEventsUntil([&] { return !recorder.arrivals.empty(); }));
    EXPECT_EQ(recorder.arrivals[0].bytes, kMarker);

    QUdpSocket other;
    EXPECT_TRUE(other.bind(QHostAddress::AnyIPv4, oldPort, QAbstractSocket::DontShareAddress)) << other.errorString().toStdString();
}

TEST(UdpListener, BindFailsWhenAnotherSocketHoldsThePort)
{
    QUdpSocket holder;
    ASSERT_TRUE(holder.bind(QHostAddress::AnyIPv4, 0, QAbstractSocket::DontShareAddress));
    UdpListener listener(reader());
    EXPECT_FALSE(listener.setLocalPort(holder.localPort()));
    EXPECT_EQ(listener.localPort(), holder.localPort());
    EXPECT_EQ(listener.boundPort(), 0);
    EXPECT_FALSE(listener.errorString().isEmpty());
    EXPECT_EQ(listener.readPending(), 0);

    EXPECT_TRUE(listener.setLocalPort(0));
    EXPECT_NE(listener.boundPort(), 0);
}

TEST(UdpListener, HoldsItsPortExclusively)
{
    UdpListener listener(reader());
    QUdpSocket intruder;
    EXPECT_FALSE(intruder.bind(QHostAddress::AnyIPv4, listener.boundPort(),
                               QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint));
}

TEST(UdpListener, DeliversABurstLargerThanOneReadInOrder)
{
    UdpListener listener(reader());
    Recorder recorder(listener);
    Sender sender;
    constexpr int kBurst = 500;
    // Several datagrams per read batch wait at once, but a chunk stays well inside even a small
    // kernel receive buffer, so no loss can hide a listener fault or fake one.
    constexpr int kChunk = 125;
    for (int sent = 0; sent < kBurst;) {
        for (int end = sent + kChunk; sent < end; ++sent)
            sender.send(QByteArray::number(sent), listener.boundPort());
        ASSERT_TRUE(runEventsUntil([&] { return recorder.arrivals.size() == static_cast<size_t>(sent); }))
            << recorder.arrivals.size() << " of " << sent;
    }
    for (int i = 0; i < kBurst; ++i)
        ASSERT_EQ(recorder.arrivals[i].bytes, QByteArray::number(i));
}

TEST(UdpListener, ReadPendingTakesEverythingWaitingWithoutTheEventLoop)
{
    UdpListener listener(reader());
    Recorder recorder(listener);
    Sender sender;
    // More than one readiness notice reads, with a dropped one among them.
    constexpr int kWaiting = 100;
    for (int i = 0; i < kWaiting; ++i) {
        sender.send(QByteArray::number(i), listener.boundPort());
        if (i == kWaiting / 2)
            sender.send(patterned(2049), listener.boundPort());
    }
    // Loopback delivery is done when the send returns; a probe sent last, waited for without the
    // event loop, covers a kernel that hands it on later.
    QUdpSocket probe;
    ASSERT_TRUE(probe.bind(QHostAddress::LocalHost, 0));
    sender.send("probe", probe.localPort());
    ASSERT_TRUE(probe.waitForReadyRead(10'000));

    EXPECT_EQ(listener.readPending(), kWaiting);
    ASSERT_EQ(recorder.arrivals.size(), static_cast<size_t>(kWaiting));
    for (int i = 0; i < kWaiting; ++i)
        ASSERT_EQ(recorder.arrivals[i].bytes, QByteArray::number(i));
    EXPECT_EQ(listener.readPending(), 0);
}

// What waits in the socket when reading begins, against what is handed on: around the batches
// of 64 that one receive call takes, over whichever path this platform reads by.
struct Queued {
    qsizetype size = 20;
    bool fromSecondHost = false;
};

struct QueueCase {
    const char* name;
    std::vector<Queued> queued;
    std::vector<int> delivered; // indexes into queued, in order
    int restartAfter = -1;      // the notice of this delivery binds the same port afresh
};

void PrintTo(const QueueCase& c, std::ostream* out)
{
    *out << c.name;
}

std::vector<Queued> times(int count, Queued each = {})
{
    return std::vector<Queued>(static_cast<std::size_t>(count), each);
}

std::vector<Queued> operator+(std::vector<Queued> a, const std::vector<Queued>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::vector<int> upTo(int end, std::vector<int> more = {})
{
    std::vector<int> indexes;
    for (int i = 0; i < end; ++i)
        indexes.push_back(i);
    indexes.insert(indexes.end(), more.begin(), more.end());
    return indexes;
}

// Tells the datagrams apart by their bytes, whatever their length (but the empty one).
QByteArray contentOf(int index, qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i + index * 31) & 0xFF);
    return bytes;
}

class QueuedDatagrams : public testing::TestWithParam<QueueCase> {};

TEST_P(QueuedDatagrams, AreHandedOnWholeInOrderFromTheirSender)
{
    const QueueCase& c = GetParam();
    UdpListener listener(reader());
    ASSERT_EQ(listener.readsInBatches(), !portable());
    const quint16 port = listener.boundPort();
    ASSERT_TRUE(listener.setLocalPort(port));
    Recorder recorder(listener);
    QObject::connect(&listener, &UdpListener::dataReceived, [&] {
        if (static_cast<int>(recorder.arrivals.size()) == c.restartAfter + 1) {
            ASSERT_TRUE(listener.setLocalPort(port));
        }
    });
    Sender first;
    Sender second(QHostAddress(QStringLiteral("127.0.0.2")));
    for (std::size_t i = 0; i < c.queued.size(); ++i)
        (c.queued[i].fromSecondHost ? second : first).send(contentOf(static_cast<int>(i), c.queued[i].size), port);
    // All of it waits in the socket before the first read (see ReadPendingTakesEverything...).
    QUdpSocket probe;
    ASSERT_TRUE(probe.bind(QHostAddress::LocalHost, 0));
    second.send("probe", probe.localPort());
    ASSERT_TRUE(probe.waitForReadyRead(10'000));

    listener.readPending();
    first.send(kMarker, port); // whatever was left in a closed socket has gone with it
    ASSERT_TRUE(runEventsUntil([&] { return !recorder.arrivals.empty() && recorder.arrivals.back().bytes == kMarker; }));
    recorder.arrivals.pop_back();

    ASSERT_EQ(recorder.arrivals.size(), c.delivered.size());
    for (std::size_t k = 0; k < c.delivered.size(); ++k) {
        const int index = c.delivered[k];
        const Queued& sent = c.queued[static_cast<std::size_t>(index)];
        const Sender& from = sent.fromSecondHost ? second : first;
        SCOPED_TRACE(testing::Message() << "delivery " << k << ", datagram " << index);
        EXPECT_EQ(recorder.arrivals[k].bytes, contentOf(index, sent.size));
        EXPECT_EQ(recorder.arrivals[k].fromIp, sent.fromSecondHost ? "127.0.0.2" : "127.0.0.1");
        EXPECT_EQ(recorder.arrivals[k].fromPort, from.socket.localPort());
    }
}

constexpr Queued kOversize{3000};
constexpr Queued kEmpty{0};
constexpr Queued kFromSecondHost{20, true};

INSTANTIATE_TEST_SUITE_P(
    Cases, QueuedDatagrams,
    testing::Values(QueueCase{"one", times(1), upTo(1)}, QueueCase{"one_batch", times(64), upTo(64)},
                    QueueCase{"one_batch_and_one", times(65), upTo(65)},
                    QueueCase{"oversize_between_neighbours", times(1) + times(1, kOversize) + times(1), {0, 2}},
                    QueueCase{"oversize_last_of_a_batch", times(63) + times(1, kOversize) + times(2), upTo(63, {64, 65})},
                    QueueCase{"empty", times(1, kEmpty) + times(1), upTo(2)},
                    QueueCase{"second_sender", times(1) + times(1, kFromSecondHost) + times(1), upTo(3)},
                    QueueCase{"restart_between_batches", times(65), upTo(64), 63},
                    QueueCase{"restart_within_a_batch", times(65), upTo(10), 9}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace zqn::discovery
