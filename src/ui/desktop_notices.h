#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>

namespace zqn::ui {

// The desktop's notification service (org.freedesktop.Notifications on the session bus), which
// GNOME and others offer without any tray.
class DesktopNotices : public QObject {
    Q_OBJECT

public:
    explicit DesktopNotices(QDBusConnection bus = sessionBusIfAny(), QObject* parent = nullptr);

    // Hands the notice to the service without waiting for it. Where there is no bus, or the
    // service is missing, fails to start or refuses the notice, undelivered follows, at once or
    // later, and the caller falls back to the tray.
    void show(const QString& title, const QString& message);

    // The session bus where one runs: DBUS_SESSION_BUS_ADDRESS names it, or $XDG_RUNTIME_DIR/bus
    // is there. Otherwise a connection that is not connected: asking for the session bus then
    // would start a bus daemon that outlives the program.
    static QDBusConnection sessionBusIfAny();

signals:
    void undelivered(const QString& title, const QString& message);

private:
    QDBusConnection bus_;
};

} // namespace zqn::ui
