#include "ui/tray_watch.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QSystemTrayIcon>

#include <xcb/xcb.h>

#include "ui/x11_atom.h"

namespace zqn::ui {

namespace {

constexpr int kPollMs = 1000;

} // namespace

TrayWatch::TrayWatch(QObject* parent)
    : QObject(parent)
    , available_(&QSystemTrayIcon::isSystemTrayAvailable)
{
    poll_.setInterval(kPollMs);
    connect(&poll_, &QTimer::timeout, this, &TrayWatch::check);
}

TrayWatch::~TrayWatch()
{
    if (QCoreApplication* app = QCoreApplication::instance())
        app->removeNativeEventFilter(this);
}

void TrayWatch::setAvailability(Availability availability)
{
    available_ = std::move(availability);
}

void TrayWatch::watch()
{
    if (poll_.isActive() || trayManagerAtom_ != 0)
        return;
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (x11 && x11->connection()) {
        // Qt listens on the root window for these messages already; they pass its filters first.
        trayManagerAtom_ = internAtom(x11->connection(), "MANAGER");
        traySelectionAtom_ = internAtom(x11->connection(), "_NET_SYSTEM_TRAY_S0");
        QCoreApplication::instance()->installNativeEventFilter(this);
    } else {
        poll_.start();
    }
}

bool TrayWatch::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*)
{
    if (eventType != "xcb_generic_event_t")
        return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7F) != XCB_CLIENT_MESSAGE)
        return false;
    const auto* client = static_cast<const xcb_client_message_event_t*>(message);
    // Looked at once Qt has taken the message in, so that it knows the new tray too.
    if (client->type == trayManagerAtom_ && client->data.data32[1] == traySelectionAtom_)
        QMetaObject::invokeMethod(this, &TrayWatch::check, Qt::QueuedConnection);
    return false;
}

void TrayWatch::check()
{
    if (!available())
        return;
    poll_.stop();
    if (trayManagerAtom_ != 0) {
        QCoreApplication::instance()->removeNativeEventFilter(this);
        trayManagerAtom_ = traySelectionAtom_ = 0;
    }
    emit appeared();
}

} // namespace zqn::ui
