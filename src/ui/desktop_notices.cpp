#include "ui/desktop_notices.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QFileInfo>
#include <QVariantMap>

#include "app/message_text.h"
#include "zqnlist_app_id.h"

namespace zqn::ui {

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");

// How long the service shows a notice: its own default.
constexpr int kServerDefaultTimeout = -1;
// A service the bus starts on the first call may take a while; the tray waits no longer.
constexpr int kReplyMs = 10000;

// The body may hold the markup subset servers read (b, i, u, a, img); a maker such as "AT&T"
// must stay text.
QString markupEscaped(QString text)
{
    return text.replace(QLatin1Char('&'), QLatin1String("&amp;"))
        .replace(QLatin1Char('<'), QLatin1String("&lt;"))
        .replace(QLatin1Char('>'), QLatin1String("&gt;"));
}

} // namespace

DesktopNotices::DesktopNotices(QDBusConnection bus, QObject* parent)
    : QObject(parent)
    , bus_(std::move(bus))
{
}

QDBusConnection DesktopNotices::sessionBusIfAny()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")
        || (!runtime.isEmpty() && QFileInfo::exists(runtime + QStringLiteral("/bus"))))
        return QDBusConnection::sessionBus();
    return QDBusConnection(QStringLiteral("zqnlist-no-session-bus"));
}

void DesktopNotices::show(const QString& title, const QString& message)
{
    if (!bus_.isConnected()) {
        emit undelivered(title, message);
        return;
    }
    QDBusMessage notify = QDBusMessage::createMethodCall(kService, QStringLiteral("/org/freedesktop/Notifications"),
                                                         kService, QStringLiteral("Notify"));
    // The desktop entry lets the desktop name the program and find its icon.
    const QVariantMap hints{{QStringLiteral("desktop-entry"), QStringLiteral(ZQN_APP_ID)}};
    notify << app::programName() << 0u << QStringLiteral(ZQN_APP_ID) << title << markupEscaped(message)
           << QStringList() << hints << kServerDefaultTimeout;
    // A missing service, one the bus cannot start, and one that refuses all answer with an error.
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(notify, kReplyMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, title, message](QDBusPendingCallWatcher* call) {
        call->deleteLater();
        if (call->isError())
            emit undelivered(title, message);
    });
}

} // namespace zqn::ui
