#include "monitor_fixture.h"

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

TEST_F(MonitorProcess, HeldPortGivesNoPageWrite)
{
    QUdpSocket holder;
    ASSERT_TRUE(holder.bind(QHostAddress::AnyIPv4, port, QAbstractSocket::DontShareAddress));
    start();
    QTest::qWait(2500); // two save intervals: a running monitor would have written by now
    EXPECT_FALSE(exists("zqnlist.htm"));
    EXPECT_FALSE(exists("zqnlist.csv"));
    terminate(SIGTERM);
    EXPECT_TRUE(exists("zqnlist.Ini"));
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
