#pragma once

#include <QDBusConnection>
#include <QString>

namespace zqn::ui {

// The desktop's notification service (org.freedesktop.Notifications on the session bus), which
// GNOME and others offer without any tray.
class DesktopNotices {
public:
    explicit DesktopNotices(QDBusConnection bus = QDBusConnection::sessionBus());

    // Hands the notice to the service; false when the bus has none (running or activatable), and
    // the caller falls back to the tray.
    bool show(const QString& title, const QString& message);

private:
    QDBusConnection bus_;
};

} // namespace zqn::ui
