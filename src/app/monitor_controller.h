#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "app/device_lines.h"
#include "app/full_list_warning.h"
#include "app/maker_registry.h"
#include "app/page_publisher.h"
#include "app/panel_fields.h"
#include "app/sighting_recorder.h"
#include "app/status_line.h"
#include "discovery/device_list.h"
#include "discovery/udp_listener.h"
#include "report/list_page.h"
#include "settings/settings.h"
#include "text/stamp.h"

namespace zqn::app {

// The monitor's state machine, window or not: the settings and their file, the device list and
// the listener, Start, Stop, the settings panel and exit, and what became of each datagram. Views
// present it and forward what the user asks for; every rule about what may happen when lives
// here. Its actions never throw: a failure the user must see is emitted as errorRaised, for the
// program's one error handler.
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
        // The deferred start runs by itself once the event loop does; tests may run it by hand.
        bool scheduleDeferredStart = true;
        // A service starts monitoring whatever AUTO says, and leaves the settings file alone.
        bool alwaysStart = false;
        bool writeSettingsAtExit = true;
        // Where the IEEE registry's CSV files are (Debian's ieee-data).
        QString makerFolder = MakerRegistry::defaultFolder();
    };

    explicit MonitorController(Options options, QObject* parent = nullptr);
    ~MonitorController() override;

    // Reads the settings, loads the device list and the page template, rebuilds the blocks, and
    // arms the deferred start.
    void startUp();
    // Once the event loop runs: auto-start, then presentationRequested. Runs once.
    void runDeferredStart();

    void start();
    void stop();
    // Reads the settings file again, then runs Stop and Start as the buttons would (Start reloads
    // the CSV file), but for Stop's last write: what was heard since the one before is not kept.
    // A file that cannot be read keeps the running settings, after errorRaised.
    void reload();
    void openSettings()
    {
        if (canOpenSettings())
            setState(State::SettingsOpen);
    }
    // Takes the panel's fields into the record and rebuilds the page blocks.
    void applySettings(const settings::Settings& edited);
    // Leaves the record alone; the typed numbers are still what exit writes.
    void cancelSettings()
    {
        if (state_ == State::SettingsOpen)
            setState(State::Stopped);
    }
    // The settings panel's number fields, told as they change. Exit writes these, not the
    // record's.
    void setPanelFields(const PanelFields& typed) { panelFields_ = typed; }
    // Until the panel was used its number fields can only repeat the record.
    PanelFields panelFields() const { return panelFields_.value_or(panelFieldsFor(settings_)); }

    // Exit: records what is waiting and writes the page once more when running, then writes the
    // settings file, unless it was there at start-up and could not be read. Emits finished either
    // way; returns false when the last write (its status says so) or the settings (after
    // errorRaised) could not be written.
    bool shutDown();
    bool isExiting() const { return exiting_; }

    State state() const { return state_; }
    bool canStart() const { return !exiting_ && state_ == State::Stopped; }
    bool canStop() const { return !exiting_ && state_ == State::Running; }
    bool canOpenSettings() const { return !exiting_ && state_ == State::Stopped; }

    using Severity = StatusLine::Severity;
    QString statusText() const { return status_.text(); }
    Severity statusSeverity() const { return status_.severity(); }
    // What stands behind the status in the system's own words, and that the settings will not be
    // saved when they could not be read; for its tooltip.
    QString statusDetail() const { return status_.detail(); }
    // A problem beside the monitor (a web endpoint that cannot listen) that the status keeps
    // showing after whatever it says, in short words; detail is for the tooltip.
    void setStandingProblem(const QString& words, const QString& detail);
    // The status without the warning a full list adds to it.
    QString runStatus() const { return status_.runStatus(); }
    QString updateTime() const { return publisher_.updateTime(); }
    const settings::Settings& settings() const { return settings_; }
    const discovery::DeviceList& devices() const { return devices_; }
    QString settingsPath() const { return options_.settingsPath; }
    // The list page's native file name when it exists, else empty.
    QString existingPagePath() const { return publisher_.existingPagePath(); }

    // One device line's fields, for the user; nothing for a row that is not there.
    using Device = DeviceText;
    std::optional<Device> device(int row) const { return deviceTextAt(devices_, row); }

    // The device's web interface, as the page's button reaches it; empty for a line without an
    // address.
    QUrl deviceUrl(int row) const { return deviceUrlAt(devices_, row, settings_.httpPort); }
    // Gives one device a new name, saves the CSV file and the page at once. A name that the
    // files cannot carry, or a line that cannot take one, is refused with errorRaised and
    // changes nothing; notSaved: renamed, but a file could not be written (errorRaised).
    enum class Renamed { saved, badName, notNameable, notSaved };
    Renamed renameDevice(int row, const QString& name);
    // Whether the line at row is a device line that can take a name.
    bool canRename(int row) const { return row >= 0 && devices_.canRename(static_cast<std::size_t>(row)); }

    // What the user may want to know of a device beyond its line: its maker (from the IEEE
    // registry, read at the first question) and when it was last heard, against the clock.
    using Details = DeviceDetails;
    std::optional<Details> details(int row) const { return deviceDetailsAt(devices_, row, makers_, now()); }

    bool notifiesNewDevices() const { return settings_.notifyNewDevices; }
    const MakerRegistry& makers() const { return makers_; }
    void setNotifyNewDevices(bool on);

    const PagePublisher& publisher() const { return publisher_; }

    // Handles one datagram as the listener delivers it.
    void handleDatagram(QByteArrayView datagram, QByteArrayView fromIp);

    // What became of the datagrams handed in, for the metrics.
    using DatagramCounts = SightingRecorder::Counts;
    const DatagramCounts& datagramCounts() const { return recorder_.counts(); }

signals:
    void stateChanged(zqn::app::MonitorController::State state);
    void statusTextChanged(const QString& text);
    void updateTimeChanged(const QString& text);
    void deviceChanged(int row);
    void deviceAppended(int row);
    // The device at row was heard from another address than previousIp, its last.
    void deviceMoved(int row, const QString& previousIp);
    void devicesReset();
    void errorRaised(const QString& message);
    // The deferred start is done: the window is to be shown, or kept in the tray.
    void presentationRequested(bool showWindow);
    void finished();
    void noticeRaised(const QString& title, const QString& message);
    void notifyNewDevicesChanged(bool on);
    // New devices are being turned away: the list holds as many as it may.
    void capWarningRaised(const QString& warning);

private:
    void onPublished(const report::WriteOutcome& outcome, const QString& failure);
    void halt(bool lastWrite);
    bool writeSettingsFile();
    // Returns false when a file could not be written (the status says which).
    bool writeLastPage();
    void setState(State state);
    void setStatus(std::string_view cp932Text, Severity severity, const QString& warning = {},
                   const QString& detail = {});
    text::LocalDateTime now() const { return options_.clock(); }

    Options options_;
    settings::Settings settings_;
    std::optional<PanelFields> panelFields_;
    discovery::DeviceList devices_;
    discovery::UdpListener listener_;
    PagePublisher publisher_;
    QTimer deferredStartTimer_;
    MakerRegistry makers_;
    SightingRecorder recorder_{devices_};
    State state_ = State::Stopped;
    bool deferredStartDone_ = false;
    bool exiting_ = false;
    bool settingsUnreadable_ = false; // kept as it is at exit
    FullListWarning fullList_;
    StatusLine status_;
};

} // namespace zqn::app
