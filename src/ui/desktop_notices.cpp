#include "ui/desktop_notices.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QVariantMap>

#include "app/message_text.h"
#include "zqnlist_app_id.h"

namespace zqn::ui {

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");

// How long the service shows a notice: its own default.
constexpr int kServerDefaultTimeout = -1;

} // namespace

DesktopNotices::DesktopNotices(QDBusConnection bus)
    : bus_(std::move(bus))
{
}

bool DesktopNotices::show(const QString& title, const QString& message)
{
    QDBusConnectionInterface* daemon = bus_.isConnected() ? bus_.interface() : nullptr;
    if (!daemon)
        return false;
    // Checked each time: a service may start or stop while the program runs. Many are started by
    // the bus on the first call.
    if (!daemon->isServiceRegistered(kService).value() && !daemon->activatableServiceNames().value().contains(kService))
        return false;
    QDBusMessage notify = QDBusMessage::createMethodCall(kService, QStringLiteral("/org/freedesktop/Notifications"),
                                                         kService, QStringLiteral("Notify"));
    // The desktop entry lets the desktop name the program and find its icon.
    const QVariantMap hints{{QStringLiteral("desktop-entry"), QStringLiteral(ZQN_APP_ID)}};
    notify << app::programName() << 0u << QStringLiteral(ZQN_APP_ID) << title << message << QStringList()
           << hints << kServerDefaultTimeout;
    // Not waited for: the window must not stall on a slow service.
    return bus_.send(notify);
}

} // namespace zqn::ui
