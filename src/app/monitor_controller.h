#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <string>

#include "discovery/device_list.h"
#include "discovery/udp_listener.h"
#include "report/page_template.h"
#include "settings/settings.h"
#include "text/stamp.h"

namespace zqn::app {

// The monitor without its window: settings, device list, listener, page template and timers,
// and the life of the program from start-up to exit. Its actions never throw: a failure that the
// user must see is emitted as errorRaised, for the application's one error handler.
class MonitorController : public QObject {
    Q_OBJECT
    Q_PROPERTY(State state READ state NOTIFY stateChanged)
    Q_PROPERTY(QString statusText READ statusText NOTIFY statusTextChanged)
    Q_PROPERTY(QString updateTime READ updateTime NOTIFY updateTimeChanged)

public:
    enum class State { Stopped, Running, SettingsOpen };
    Q_ENUM(State)

    struct Options {
        QString settingsPath;        // the INI file, native name
        QString templatePath = QStringLiteral("html.dat");
        text::Clock clock;           // local date and time; empty: the system clock
    };

    explicit MonitorController(Options options, QObject* parent = nullptr);
    ~MonitorController() override;

    // Reads the settings, loads the device list and the page template, rebuilds the blocks.
    void startUp();
    // Starts monitoring when auto-start is set (the deferred start, once the event loop runs).
    void runDeferredStart();

    void start();
    void stop();
    void openSettings();
    // Takes the panel's fields into the record and rebuilds the page blocks.
    void applySettings(const settings::Settings& edited);
    void cancelSettings();
    // Exit: records what is waiting and writes the page once more when running, then writes the
    // settings file with the panel's fields. Returns false (after errorRaised) when that fails.
    bool shutDown(const settings::PanelFields& fields);
    bool shutDown() { return shutDown(settings::panelFieldsFor(settings_)); }

    State state() const { return state_; }
    bool canStart() const { return state_ == State::Stopped; }
    bool canStop() const { return state_ == State::Running; }
    bool canOpenSettings() const { return state_ == State::Stopped; }

    QString statusText() const { return statusText_; }
    QString updateTime() const { return updateTime_; }
    const settings::Settings& settings() const { return settings_; }
    const discovery::DeviceList& devices() const { return devices_; }
    QString settingsPath() const { return options_.settingsPath; }
    // The list page's native file name when it exists, else empty.
    QString existingPagePath() const;

    // For tests: the page timer and the listener.
    const QTimer& pageTimer() const { return pageTimer_; }
    const discovery::UdpListener& listener() const { return listener_; }

    // Handles one datagram as the listener delivers it.
    void handleDatagram(QByteArrayView datagram, QByteArrayView fromIp);

signals:
    void stateChanged(zqn::app::MonitorController::State state);
    void statusTextChanged(const QString& text);
    void updateTimeChanged(const QString& text);
    void deviceChanged(int row);
    void deviceAppended(int row);
    void devicesReset();
    void errorRaised(const QString& message);

private:
    void onPageTimer();
    // Returns false when a file could not be written (the status says which).
    bool writePage();
    bool writeLastPage();
    void setState(State state);
    void setStatus(std::string_view cp932Text);
    void rebuildBlocks();
    text::LocalDateTime now() const;

    Options options_;
    settings::Settings settings_;
    discovery::DeviceList devices_;
    discovery::UdpListener listener_;
    text::Lines pageTemplate_;
    report::PageBlocks blocks_;
    QTimer pageTimer_;
    discovery::Sighting sighting_; // reused: its date and time texts change once a second
    text::LocalDateTime sightingTime_;
    State state_ = State::Stopped;
    QString statusText_;
    QString updateTime_;
};

} // namespace zqn::app
