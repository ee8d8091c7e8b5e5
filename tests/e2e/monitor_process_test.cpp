#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>

#include <gtest/gtest.h>

#include <csignal>
#include <functional>

namespace {

QByteArray announcement(quint8 lastOctet)
{
    QByteArray bytes(20, '\0');
    bytes[9] = 0x01;
    bytes[11] = 0x0C;
    const char mac[6] = {0x02, static_cast<char>(0xC3), static_cast<char>(0xD7), 0x00, 0x00, static_cast<char>(lastOctet)};
    bytes.replace(14, 6, QByteArray(mac, 6));
    return bytes;
}

QByteArray macOf(quint8 lastOctet)
{
    return QStringLiteral("02:C3:D7:00:00:%1").arg(lastOctet, 2, 16, QLatin1Char('0')).toUpper().toLatin1();
}

quint16 freePort()
{
    QUdpSocket probe;
    probe.bind(QHostAddress::AnyIPv4, 0);
    return probe.localPort();
}

bool eventually(const std::function<bool()>& condition, int timeoutMs = 8000)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QTest::qWait(20);
    }
    return true;
}

// A copy of the monitor in a folder of its own: its settings file lies beside the copy.
class MonitorProcess : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(QFile::copy(QStringLiteral(ZQN_EXECUTABLE), dir.filePath("zqnlist")));
        port = freePort();
    }

    void TearDown() override
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished();
        }
    }

    void start(const QByteArray& extraIni = {})
    {
        QFile ini(dir.filePath("zqnlist.Ini"));
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
        ini.write("[SYSTEM]\r\nAUTO=1\r\nWINDOW=1\r\nPORT=" + QByteArray::number(port) + "\r\nLTIME=1\r\n"
                  + extraIni + "[DATA]\r\nCSV=zqnlist.csv\r\nHTML=zqnlist.htm\r\n");
        ini.close();
        auto env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(dir.path());
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(dir.filePath("zqnlist"), {});
        ASSERT_TRUE(process.waitForStarted());
    }

    void send(const QByteArray& datagram)
    {
        QUdpSocket sender;
        ASSERT_EQ(sender.writeDatagram(datagram, QHostAddress::LocalHost, port), datagram.size());
    }

    QByteArray file(const char* name) const
    {
        QFile f(dir.filePath(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    bool exists(const char* name) const { return QFile::exists(dir.filePath(name)); }

    void terminate(int signal)
    {
        ASSERT_EQ(::kill(static_cast<pid_t>(process.processId()), signal), 0);
        ASSERT_TRUE(process.waitForFinished(10000));
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(process.exitCode(), 0);
    }

    QTemporaryDir dir;
    QProcess process;
    quint16 port = 0;
};

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
    start("HTTPPORT=8080\r\n");
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
