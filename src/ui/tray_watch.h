#pragma once

#include <QAbstractNativeEventFilter>
#include <QObject>
#include <QTimer>

#include <functional>

namespace zqn::ui {

// Tells when a tray host appears after start-up, which is usual at login, when the program may
// start before the panel. On X11 the host announces itself by taking the system tray selection
// (a MANAGER message on the root window); elsewhere a cheap check runs every second while no tray
// is there. A D-Bus tray (StatusNotifierWatcher) that appears later is not looked for: Qt decides
// once per process whether to use one.
class TrayWatch : public QObject, public QAbstractNativeEventFilter {
    Q_OBJECT

public:
    using Availability = std::function<bool()>;

    explicit TrayWatch(QObject* parent = nullptr);
    ~TrayWatch() override;

    // Replaceable for tests; QSystemTrayIcon's own answer otherwise.
    void setAvailability(Availability availability);
    bool available() const { return available_ && available_(); }

    // Looks out for a tray until one is there, then emits appeared once.
    void watch();

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

signals:
    void appeared();

private:
    void check();

    Availability available_;
    QTimer poll_;
    unsigned trayManagerAtom_ = 0;    // MANAGER, on X11
    unsigned traySelectionAtom_ = 0;  // _NET_SYSTEM_TRAY_S<screen>
};

} // namespace zqn::ui
