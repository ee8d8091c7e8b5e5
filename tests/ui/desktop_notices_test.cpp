#include "ui/desktop_notices.h"

#include <QDBusConnection>
#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>
#include <QVariantMap>

#include <gtest/gtest.h>

namespace zqn::ui {
namespace {

// Records the notices a desktop would show.
class NotificationServer : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    QStringList calls; // "app|summary|body|timeout"

public slots:
    uint Notify(const QString& app, uint, const QString&, const QString& summary, const QString& body,
                const QStringList&, const QVariantMap&, int timeout)
    {
        calls << QStringList{app, summary, body, QString::number(timeout)}.join(QLatin1Char('|'));
        emit notified();
        return static_cast<uint>(calls.size());
    }

signals:
    void notified();
};

class DesktopNoticesTest : public testing::TestWithParam<bool> {
protected:
    void TearDown() override
    {
        QDBusConnection::disconnectFromBus(QStringLiteral("server"));
        QDBusConnection::disconnectFromBus(QStringLiteral("client"));
        daemon.kill();
        daemon.waitForFinished();
    }
    QProcess daemon;
};

// A session bus of the test's own: with the service the notice goes to it; without one the
// caller is told to use the tray.
TEST_P(DesktopNoticesTest, GoToTheServiceWhereThereIsOne)
{
    if (!QFileInfo(QStringLiteral("/usr/bin/dbus-daemon")).isExecutable())
        GTEST_SKIP() << "dbus-daemon is not installed (package dbus-daemon)";
    daemon.start(QStringLiteral("/usr/bin/dbus-daemon"), {"--session", "--nofork", "--print-address=1"});
    while (!daemon.canReadLine())
        ASSERT_TRUE(daemon.waitForReadyRead()) << "dbus-daemon gave no address";
    const QString address = QString::fromUtf8(daemon.readLine().trimmed());

    const bool serviceThere = GetParam();
    NotificationServer server;
    QSignalSpy notified(&server, &NotificationServer::notified);
    QDBusConnection serverBus = QDBusConnection::connectToBus(address, QStringLiteral("server"));
    if (serviceThere) {
        ASSERT_TRUE(serverBus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &server,
                                             QDBusConnection::ExportAllSlots));
        ASSERT_TRUE(serverBus.registerService(QStringLiteral("org.freedesktop.Notifications")));
    }

    DesktopNotices notices(QDBusConnection::connectToBus(address, QStringLiteral("client")));
    EXPECT_EQ(notices.show(QStringLiteral("ZQN LIST"), QStringLiteral("新しい機器: 0A:00:00:00:00:01 (10.0.0.1)")),
              serviceThere);

    if (serviceThere) {
        ASSERT_TRUE(notified.wait());
        EXPECT_EQ(server.calls,
                  QStringList{QStringLiteral("ZQN LIST|ZQN LIST|新しい機器: 0A:00:00:00:00:01 (10.0.0.1)|-1")});
    }
}

INSTANTIATE_TEST_SUITE_P(Service, DesktopNoticesTest, testing::Bool(),
                         [](const auto& info) { return info.param ? "there" : "absent"; });

} // namespace
} // namespace zqn::ui

#include "desktop_notices_test.moc"
