#include <QDeadlineTimer>
#include <QHostAddress>
#include <QProcess>
#include <QUdpSocket>

#include <gtest/gtest.h>

#include <vector>

namespace {

struct ToolRun {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

ToolRun announce(const QStringList& arguments)
{
    QProcess process;
    process.start(QStringLiteral(ZQN_ANNOUNCE_PATH), arguments);
    ToolRun run;
    if (!process.waitForFinished(30'000) || process.exitStatus() != QProcess::NormalExit) {
        ADD_FAILURE() << "zqn-announce did not finish: " << process.errorString().toStdString();
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.exitCode = process.exitCode();
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

ToolRun announceTo(const QUdpSocket& receiver, const QStringList& arguments)
{
    return announce(QStringList{QStringLiteral("--port"), QString::number(receiver.localPort())} + arguments);
}

// Everything the tool sent, once it has ended: its sends are queued here by then.
std::vector<QByteArray> received(QUdpSocket& socket, size_t expected)
{
    std::vector<QByteArray> datagrams;
    QDeadlineTimer deadline(10'000);
    while (datagrams.size() < expected && !deadline.hasExpired()) {
        if (!socket.hasPendingDatagrams() && !socket.waitForReadyRead(100))
            continue;
        QByteArray bytes(socket.pendingDatagramSize(), Qt::Uninitialized);
        socket.readDatagram(bytes.data(), bytes.size());
        datagrams.push_back(bytes);
    }
    EXPECT_FALSE(socket.hasPendingDatagrams()) << "more datagrams than expected";
    return datagrams;
}

QByteArray commonForm(const char* macHex)
{
    return QByteArray::fromHex(QByteArray("0801009000040004" "0001000C0006") + macHex);
}

QByteArray shortForm(char octet5, char octet6)
{
    QByteArray bytes(182, '\0');
    bytes[4] = octet5;
    bytes[5] = octet6;
    return bytes;
}

struct SendCase {
    const char* name;
    QStringList arguments;
    std::vector<QByteArray> expected;
};

class AnnounceSends : public testing::TestWithParam<SendCase> {};

TEST_P(AnnounceSends, DatagramsByteForByteInOrder)
{
    QUdpSocket receiver;
    ASSERT_TRUE(receiver.bind(QHostAddress::LocalHost, 0));
    const ToolRun run = announceTo(receiver, GetParam().arguments);
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_TRUE(run.out.startsWith("sent " + QByteArray::number(GetParam().expected.size()) + " datagrams in "))
        << run.out.toStdString();
    EXPECT_EQ(received(receiver, GetParam().expected.size()), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AnnounceSends,
    testing::Values(
        SendCase{"default_is_one_datagram", {}, {commonForm("02C3D7000001")}},
        SendCase{"range_carries_into_higher_octets_and_repeats",
                 {"--mac", "02:c3:d7:00:00:fe", "--count-macs", "5", "--repeat", "2"},
                 {commonForm("02C3D70000FE"), commonForm("02C3D70000FF"), commonForm("02C3D7000100"),
                  commonForm("02C3D7000101"), commonForm("02C3D7000102"), commonForm("02C3D70000FE"),
                  commonForm("02C3D70000FF"), commonForm("02C3D7000100"), commonForm("02C3D7000101"),
                  commonForm("02C3D7000102")}},
        SendCase{"total_cycles_through_the_range",
                 {"--mac", "0A-1B-2C-3D-4E-5F", "--count-macs", "2", "--total", "3"},
                 {commonForm("0A1B2C3D4E5F"), commonForm("0A1B2C3D4E60"), commonForm("0A1B2C3D4E5F")}},
        SendCase{"short_form_carries_the_last_two_octets",
                 {"--short", "--mac", "02:C3:D7:00:12:34", "--count-macs", "2"},
                 {shortForm(0x12, 0x34), shortForm(0x12, 0x35)}},
        SendCase{"paced_sends_all", {"--rate", "500", "--total", "3", "--host", "localhost"},
                 {commonForm("02C3D7000001"), commonForm("02C3D7000001"), commonForm("02C3D7000001")}},
        SendCase{"zero_total_sends_nothing", {"--total", "0"}, {}}),
    [](const auto& info) { return std::string(info.param.name); });

struct RefusalCase {
    const char* name;
    QStringList arguments;
};

// The receiver's port comes first; a later --port replaces it.
class AnnounceRefuses : public testing::TestWithParam<RefusalCase> {};

TEST_P(AnnounceRefuses, WithAReasonAndNothingSent)
{
    QUdpSocket receiver;
    ASSERT_TRUE(receiver.bind(QHostAddress::LocalHost, 0));
    const ToolRun run = announceTo(receiver, GetParam().arguments);
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_TRUE(run.err.startsWith("zqn-announce: ")) << run.err.toStdString();
    EXPECT_FALSE(run.out.contains("sent"));
    EXPECT_FALSE(receiver.hasPendingDatagrams());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AnnounceRefuses,
    testing::Values(RefusalCase{"five_octets", {"--mac", "02:C3:D7:00:00"}},
                    RefusalCase{"octet_not_hex", {"--mac", "02:C3:D7:00:00:G1"}},
                    RefusalCase{"octet_of_three_digits", {"--mac", "02:C3:D7:00:00:001"}},
                    RefusalCase{"range_past_the_last_mac", {"--mac", "FF:FF:FF:FF:FF:FE", "--count-macs", "3"}},
                    RefusalCase{"empty_range", {"--count-macs", "0"}},
                    RefusalCase{"repeat_and_total", {"--repeat", "2", "--total", "3"}},
                    RefusalCase{"negative_rate", {"--rate", "-1"}},
                    RefusalCase{"broadcast_address_without_the_option", {"--host", "255.255.255.255"}},
                    RefusalCase{"port_zero", {"--port", "0"}},
                    RefusalCase{"port_over_65535", {"--port", "65536"}},
                    RefusalCase{"stray_argument", {"extra"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Announce, HelpExplainsEveryOption)
{
    const ToolRun run = announce({QStringLiteral("--help")});
    EXPECT_EQ(run.exitCode, 0);
    for (const char* option : {"--host", "--port", "--mac", "--count-macs", "--repeat", "--total", "--rate",
                               "--broadcast", "--short"})
        EXPECT_TRUE(run.out.contains(option)) << option;
}

} // namespace
