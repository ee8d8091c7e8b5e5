#pragma once

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>

#include <gtest/gtest.h>

#include "support/announcements.h"

#include <csignal>
#include <functional>

namespace zqn::e2e {

using test::announcement;
using test::macOf;

inline quint16 freePort()
{
    QUdpSocket probe;
    probe.bind(QHostAddress::AnyIPv4, 0);
    return probe.localPort();
}

inline bool eventually(const std::function<bool()>& condition, int timeoutMs = 8000)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QTest::qWait(20);
    }
    return true;
}

struct MonitorSettings {
    QByteArray systemExtra; // further SYSTEM lines, each ending in CR LF
    QByteArray csvPath = "zqnlist.csv";
    QByteArray htmlPath = "zqnlist.htm";
    // Runs in the child between fork and exec (limits, signal dispositions).
    std::function<void()> childSetup;
    QProcessEnvironment environment; // further variables
};

// A copy of the monitor in a folder of its own: its settings file lies beside the copy.
class MonitorProcess : public testing::Test {
protected:
    // The program under test and the name its copy takes (the settings file is named after it).
    virtual QString programSource() const { return QStringLiteral(ZQN_EXECUTABLE); }
    virtual QString programName() const { return QStringLiteral("zqnlist"); }

    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(QFile::copy(programSource(), dir.filePath(programName())));
        port = freePort();
    }

    void TearDown() override
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished();
        }
    }

    void start(const MonitorSettings& settings = {}, const QStringList& arguments = {})
    {
        QFile ini(dir.filePath(programName() + QStringLiteral(".Ini")));
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
        ini.write("[SYSTEM]\r\nAUTO=1\r\nWINDOW=1\r\nPORT=" + QByteArray::number(port) + "\r\nLTIME=1\r\n"
                  + settings.systemExtra + "[DATA]\r\nCSV=" + settings.csvPath + "\r\nHTML=" + settings.htmlPath
                  + "\r\n");
        ini.close();
        auto env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        for (const QString& name : settings.environment.keys())
            env.insert(name, settings.environment.value(name));
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(dir.path());
        process.setProcessChannelMode(channels);
        if (settings.childSetup)
            process.setChildProcessModifier(settings.childSetup);
        process.start(dir.filePath(programName()), arguments);
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
    QProcess::ProcessChannelMode channels = QProcess::ForwardedErrorChannel;
    quint16 port = 0;
};

} // namespace zqn::e2e
