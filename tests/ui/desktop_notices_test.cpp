#include "ui/desktop_notices.h"

#include <QDBusConnection>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QVariantMap>

#include <gtest/gtest.h>

#include "support/only_check.h"

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

enum class Service { Running, Missing, FailsToStart };

struct NoticeCase {
    const char* name;
    Service service;
    bool atRuntimeFolder = false; // the bus is $XDG_RUNTIME_DIR/bus, and no address names it
};

class DesktopNoticesTest : public testing::TestWithParam<NoticeCase> {
protected:
    void TearDown() override
    {
        QDBusConnection::disconnectFromBus(QStringLiteral("server"));
        QDBusConnection::disconnectFromBus(QStringLiteral("client"));
        daemon.kill();
        daemon.waitForFinished();
    }

    // A bus of the test's own, with its own configuration: the service folders the machine has
    // (a notification daemon installed there) cannot answer on it.
    QString startBus(bool failingService, bool atRuntimeFolder)
    {
        const QString services = dir.filePath(QStringLiteral("services"));
        const QString config = dir.filePath(QStringLiteral("bus.conf"));
        EXPECT_TRUE(QDir().mkdir(services));
        if (failingService) {
            QFile service(services + QStringLiteral("/org.freedesktop.Notifications.service"));
            EXPECT_TRUE(service.open(QIODevice::WriteOnly));
            service.write("[D-BUS Service]\nName=org.freedesktop.Notifications\nExec=/bin/false\n");
        }
        QFile file(config);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QStringLiteral("<busconfig><type>session</type><listen>%1</listen><auth>EXTERNAL</auth>"
                                  "<servicedir>%2</servicedir><policy context=\"default\"><allow send_destination=\"*\" "
                                  "eavesdrop=\"true\"/><allow eavesdrop=\"true\"/><allow own=\"*\"/></policy>"
                                  "</busconfig>")
                       .arg((atRuntimeFolder ? QStringLiteral("unix:path=%1/bus") : QStringLiteral("unix:dir=%1"))
                                .arg(dir.path()),
                            services)
                       .toUtf8());
        file.close();
        daemon.start(QStringLiteral("/usr/bin/dbus-daemon"),
                     {QStringLiteral("--config-file=") + config, "--nofork", "--print-address=1"});
        while (!daemon.canReadLine())
            if (!daemon.waitForReadyRead())
                return {};
        return QString::fromUtf8(daemon.readLine().trimmed());
    }

    QTemporaryDir dir;
    QProcess daemon;
};

// With the service the notice goes to it, its body as text in the servers' markup; a service
// that is missing or fails to start leaves the notice to the tray.
TEST_P(DesktopNoticesTest, GoToTheServiceElseToTheTray)
{
    const NoticeCase& c = GetParam();
    if (!QFileInfo(QStringLiteral("/usr/bin/dbus-daemon")).isExecutable())
        ZQN_SKIP_ONLY_CHECK("dbus-daemon is not installed (package dbus-daemon)");
    ASSERT_TRUE(dir.isValid());
    const QString address = startBus(c.service == Service::FailsToStart, c.atRuntimeFolder);
    ASSERT_FALSE(address.isEmpty()) << "dbus-daemon gave no address";

    NotificationServer server;
    QSignalSpy notified(&server, &NotificationServer::notified);
    QDBusConnection serverBus = QDBusConnection::connectToBus(address, QStringLiteral("server"));
    if (c.service == Service::Running) {
        ASSERT_TRUE(serverBus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &server,
                                             QDBusConnection::ExportAllSlots));
        ASSERT_TRUE(serverBus.registerService(QStringLiteral("org.freedesktop.Notifications")));
    }

    if (c.atRuntimeFolder) {
        qunsetenv("DBUS_SESSION_BUS_ADDRESS");
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(dir.path()));
    }
    DesktopNotices notices(c.atRuntimeFolder ? DesktopNotices::sessionBusIfAny()
                                             : QDBusConnection::connectToBus(address, QStringLiteral("client")));
    QSignalSpy undelivered(&notices, &DesktopNotices::undelivered);
    const QString text = QStringLiteral("新しい機器: 0A:00:00:00:00:01 (10.0.0.1) AT&T <1>");
    notices.show(QStringLiteral("ZQN LIST"), text);

    if (c.service == Service::Running) {
        ASSERT_TRUE(notified.wait());
        EXPECT_EQ(server.calls, QStringList{QStringLiteral(
                                    "ZQN LIST|ZQN LIST|新しい機器: 0A:00:00:00:00:01 (10.0.0.1) AT&amp;T &lt;1&gt;|-1")});
        EXPECT_EQ(undelivered.count(), 0);
    } else {
        ASSERT_TRUE(undelivered.wait());
        EXPECT_EQ(undelivered.first(), (QVariantList{QStringLiteral("ZQN LIST"), text}));
    }
}

INSTANTIATE_TEST_SUITE_P(Service, DesktopNoticesTest,
                         testing::Values(NoticeCase{"there", Service::Running}, NoticeCase{"absent", Service::Missing},
                                         NoticeCase{"fails_to_start", Service::FailsToStart},
                                         NoticeCase{"there_on_the_runtime_folders_bus", Service::Running, true}),
                         [](const auto& info) { return std::string(info.param.name); });

// Without a session bus the notice goes to the tray at once, without asking for one.
TEST(DesktopNoticesWithoutBus, GoToTheTray)
{
    QTemporaryDir runtime;
    ASSERT_TRUE(runtime.isValid());
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    DesktopNotices notices;
    QSignalSpy undelivered(&notices, &DesktopNotices::undelivered);
    notices.show(QStringLiteral("ZQN LIST"), QStringLiteral("新しい機器"));
    EXPECT_EQ(undelivered.count(), 1);
    qunsetenv("XDG_RUNTIME_DIR");
}

} // namespace
} // namespace zqn::ui

#include "desktop_notices_test.moc"
