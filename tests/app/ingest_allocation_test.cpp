// A flood must not cost an allocation per datagram: this program counts every allocation of the
// thread that handles datagrams, through operator new or the C allocator that Qt's containers use,
// and the way of a datagram from the socket to the device list must add none.

#include "app/monitor_controller.h"
#include "app/platform.h"

#include <QTemporaryDir>
#include <QUdpSocket>

#include <gtest/gtest.h>

#include <cstddef>

#include "support/announcements.h"

namespace {
// Per thread: Qt's own threads allocate whenever they like.
thread_local long allocations = 0;
}

// AddressSanitizer brings its own allocator; counting is left to the plain builds. operator new
// comes through malloc.
#ifndef __SANITIZE_ADDRESS__
extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* block, std::size_t size);

void* malloc(std::size_t size) noexcept
{
    ++allocations;
    return __libc_malloc(size);
}
void* calloc(std::size_t count, std::size_t size) noexcept
{
    ++allocations;
    return __libc_calloc(count, size);
}
void* realloc(void* block, std::size_t size) noexcept
{
    ++allocations;
    return __libc_realloc(block, size);
}
}
#endif

namespace zqn::app {
namespace {

using test::announcement;

class Ingest : public testing::Test {
protected:
    void SetUp() override
    {
#ifdef __SANITIZE_ADDRESS__
        GTEST_SKIP() << "allocations are counted without AddressSanitizer only";
#endif
    }
};

struct DatagramCase {
    const char* name;
    QByteArray datagram;
    const char* fromIp;
};

TEST_F(Ingest, HandlingADatagramAllocatesNothing)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QFile ini(dir.filePath("zqnlist.Ini"));
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write("[SYSTEM]\r\nMAXDEV=1\r\n[DATA]\r\nCSV=" + dir.filePath("zqnlist.csv").toUtf8() + "\r\n");
    ini.close();
    MonitorController::Options options;
    options.settingsPath = ini.fileName();
    options.clock = [] { return text::LocalDateTime{2024, 5, 1, 9, 15, 30}; };
    options.scheduleDeferredStart = false;
    MonitorController controller(std::move(options));
    controller.startUp();
    // The one device's line and the sighting's texts are made once; so is the status that says
    // the list turns new devices away.
    controller.handleDatagram(announcement(1), "10.0.0.1");
    controller.handleDatagram(announcement(2), "10.0.0.1");
    ASSERT_EQ(controller.devices().count(), 1u);

    QByteArray shortForm(182, '\0');
    shortForm[5] = 0x07;
    const DatagramCase cases[] = {
        {"known device", announcement(1), "10.0.0.1"},
        {"known device from another address", announcement(1), "10.0.0.2"},
        {"new device while the list is full", announcement(3), "10.0.0.1"},
        {"short form while the list is full", shortForm, "10.0.0.1"},
        {"no announcement", QByteArray(40, '\x55'), "10.0.0.1"},
    };
    for (const DatagramCase& c : cases) {
        const long before = allocations;
        controller.handleDatagram(c.datagram, c.fromIp);
        EXPECT_EQ(allocations - before, 0) << c.name;
    }
    EXPECT_EQ(controller.devices().count(), 1u);
    EXPECT_TRUE(controller.devices().line(0).starts_with("02:C3:D7:00:00:01,10.0.0.2,"));
}

TEST_F(Ingest, ReadingABatchAllocatesNothing)
{
    discovery::UdpListener listener(datagramBatchReader());
    if (!listener.readsInBatches())
        GTEST_SKIP() << "the portable path reads through Qt";
    qsizetype bytes = 0;
    QObject::connect(&listener, &discovery::UdpListener::dataReceived,
                     [&](QByteArrayView datagram, QByteArrayView fromIp, quint16) { bytes += datagram.size() + fromIp.size(); });
    QUdpSocket sender;
    constexpr int kDatagrams = 100; // a full batch and part of one
    for (int i = 0; i < kDatagrams; ++i)
        ASSERT_EQ(sender.writeDatagram(announcement(static_cast<quint32>(i)), QHostAddress::LocalHost, listener.boundPort()), 20);
    QUdpSocket probe;
    ASSERT_TRUE(probe.bind(QHostAddress::LocalHost, 0));
    sender.writeDatagram("probe", QHostAddress::LocalHost, probe.localPort());
    ASSERT_TRUE(probe.waitForReadyRead(10'000));

    const long before = allocations;
    EXPECT_EQ(listener.readPending(), kDatagrams);
    EXPECT_EQ(allocations - before, 0);
    EXPECT_EQ(bytes, kDatagrams * (20 + 9)); // "127.0.0.1"
}

} // namespace
} // namespace zqn::app
