#include "app/monitor_controller.h"

#include <QDir>
#include <QMetaMethod>
#include <QStringList>

#include <utility>

#include "app/failure_words.h"
#include "app/platform.h"
#include "app/settings_location.h"
#include "app/message_text.h"
#include "app/system_clock.h"
#include "report/list_page.h"
#include "storage/cp932_codec.h"
#include "storage/file_store.h"
#include "text/messages.h"

namespace zqn::app {

namespace messages = text::messages;

MonitorController::MonitorController(Options options, QObject* parent)
    : QObject(parent)
    , options_(std::move(options))
    , listener_(datagramBatchReader())
    , publisher_(settings_, devices_, [this] { return now(); })
    , makers_(options_.makerFolder)
{
    if (!options_.clock)
        options_.clock = SystemClock();
    connect(&publisher_, &PagePublisher::published, this, &MonitorController::onPublished);
    connect(&publisher_, &PagePublisher::updateTimeChanged, this, &MonitorController::updateTimeChanged);
    deferredStartTimer_.setSingleShot(true);
    deferredStartTimer_.setInterval(1);
    connect(&deferredStartTimer_, &QTimer::timeout, this, &MonitorController::runDeferredStart);
    connect(&listener_, &discovery::UdpListener::dataReceived, this,
            [this](QByteArrayView datagram, QByteArrayView fromIp, quint16) { handleDatagram(datagram, fromIp); });
}

MonitorController::~MonitorController() = default;

void MonitorController::startUp()
{
    setStatus(messages::kStopped, Severity::info);

    if (const auto read = readSettingsFile(options_.settingsPath); !read) {
        // Writing the defaults over it at exit would lose every value the user had.
        settingsUnreadable_ = true;
        status_.setSettingsNotSaved();
        emit errorRaised(read.error() + QLatin1Char('\n') + messageText(messages::kSettingsNotSavedAtExit));
        setStatus(messages::kStopped, Severity::info); // its tooltip now says so too
    } else if (*read) {
        settings_ = **read;
    }
    devices_.setCapacity(static_cast<std::size_t>(settings_.maxDevices));

    devices_.clear();
    if (const auto bytes = storage::readExistingFile(settings_.csvPath); !bytes) {
        settings_.autoStart = false;
        setStatus(messages::kCsvUnreadable, Severity::error);
    } else if (*bytes) {
        devices_.load(**bytes);
    }
    emit devicesReset();

    if (const QString failure = publisher_.loadTemplate(options_.templatePath); !failure.isEmpty())
        emit errorRaised(failure);
    emit notifyNewDevicesChanged(settings_.notifyNewDevices); // a window may be there already

    if (options_.scheduleDeferredStart)
        deferredStartTimer_.start();
}

void MonitorController::runDeferredStart()
{
    deferredStartTimer_.stop();
    if (deferredStartDone_ || exiting_)
        return;
    deferredStartDone_ = true;
    if (settings_.autoStart || options_.alwaysStart)
        start();
    emit presentationRequested(!settings_.startHidden);
}

void MonitorController::start()
{
    if (!canStart())
        return;

    if (const auto bytes = storage::readExistingFile(settings_.csvPath); !bytes) {
        emit errorRaised(bytes.error());
        return;
    } else if (*bytes) {
        devices_.load(**bytes);
        emit devicesReset();
    }

    publisher_.start();

    const int port = settings_.udpPort;
    const bool portInRange = port >= 0 && port <= 0xFFFF;
    if (!portInRange || !listener_.setLocalPort(static_cast<quint16>(port))) {
        const PortFailure failure = portFailure(listener_, port, portInRange);
        // Listening nowhere while showing "started" would hide the failure; stay stopped.
        publisher_.stop();
        listener_.bindStopped();
        setStatus(messages::kStopped, Severity::info, failure.words, failure.detail);
        emit errorRaised(messageText(messages::kPortCannotOpen).arg(port));
        return;
    }

    setState(State::Running);
    setStatus(messages::kStarting, Severity::info);
}

void MonitorController::stop()
{
    if (canStop())
        halt(true);
}

void MonitorController::halt(bool lastWrite)
{
    const bool lastWriteFailed = lastWrite && !writeLastPage();
    publisher_.stop();
    if (!lastWriteFailed)
        setStatus(messages::kStopped, Severity::info);
    setState(State::Stopped);
    if (!listener_.bindStopped())
        emit errorRaised(listener_.errorString());
}

void MonitorController::reload()
{
    if (exiting_ || state_ == State::SettingsOpen)
        return;
    // A file gone since the start is no reason to fall back to the defaults either.
    const auto read = readSettingsFile(options_.settingsPath);
    const std::optional<settings::Settings> reread = read ? *read : std::nullopt;
    if (!reread)
        emit errorRaised(messageText(messages::kReloadKeepsSettings).arg(QDir::toNativeSeparators(options_.settingsPath))
                         + (read ? QString() : QLatin1Char('\n') + read.error()));
    const bool wasRunning = state_ == State::Running;
    // No last write: it would put back the names typed into the CSV file since the last one.
    if (wasRunning)
        halt(false);
    if (reread) {
        settings_ = *reread;
        devices_.setCapacity(static_cast<std::size_t>(settings_.maxDevices));
        publisher_.rebuildBlocks();
        emit notifyNewDevicesChanged(settings_.notifyNewDevices);
    }
    if (wasRunning || options_.alwaysStart)
        start();
}

bool MonitorController::writeLastPage()
{
    // Sightings received since the last tick would otherwise be lost, and Start reloads the CSV.
    listener_.readPending();
    const report::WriteOutcome outcome = publisher_.publish();
    return !outcome.pageFailed && !outcome.csvFailed;
}

void MonitorController::applySettings(const settings::Settings& edited)
{
    if (state_ == State::Running || exiting_)
        return;
    // What the panel does not edit stays as it was.
    settings::Settings applied = edited;
    applied.notifyNewDevices = settings_.notifyNewDevices;
    applied.maxDevices = settings_.maxDevices;
    applied.web = settings_.web;
    settings_ = applied;
    publisher_.rebuildBlocks();
    setState(State::Stopped);
}

void MonitorController::setNotifyNewDevices(bool on)
{
    if (settings_.notifyNewDevices == on)
        return;
    settings_.notifyNewDevices = on;
    emit notifyNewDevicesChanged(on);
}

bool MonitorController::shutDown()
{
    if (exiting_)
        return true;
    exiting_ = true;
    deferredStartTimer_.stop();
    const bool lastWritten = state_ != State::Running || writeLastPage();
    publisher_.stop();
    const bool written = !options_.writeSettingsAtExit || settingsUnreadable_ || writeSettingsFile();
    emit finished();
    return lastWritten && written;
}

bool MonitorController::writeSettingsFile()
{
    const auto written = saveSettingsFile(options_.settingsPath, withPanelFields(settings_, panelFields()));
    if (!written)
        emit errorRaised(messageText(messages::kSettingsFileNotWritable)
                             .arg(QDir::toNativeSeparators(options_.settingsPath), written.error()));
    return written.ok();
}

void MonitorController::handleDatagram(QByteArrayView datagram, QByteArrayView fromIp)
{
    const auto recorded = recorder_.record(datagram, fromIp, now());
    if (!recorded)
        return;
    const auto& result = *recorded;
    if (result.refused) {
        if (const QString warning = fullList_.refused(devices_.capacity()); !warning.isEmpty()) {
            emit capWarningRaised(warning);
            if (settings_.notifyNewDevices) // already rare: told at once
                emit noticeRaised(programName(), warning);
        }
        return;
    }
    const int row = static_cast<int>(result.index);
    if (result.appended) {
        emit deviceAppended(row);
    } else {
        emit deviceChanged(row);
        // The old address's text is made only for a listener: a device that keeps changing its
        // address costs nothing more when no one is told.
        static const QMetaMethod moved = QMetaMethod::fromSignal(&MonitorController::deviceMoved);
        if (result.ipChanged && isSignalConnected(moved))
            emit deviceMoved(row, storage::fromCp932(result.previousIp));
    }
}

MonitorController::Renamed MonitorController::renameDevice(int row, const QString& name)
{
    if (row < 0 || static_cast<std::size_t>(row) >= devices_.count())
        return Renamed::notNameable;
    using Result = discovery::DeviceList::RenameResult;
    const auto bytes = storage::toCp932Exactly(name);
    const Result renamed = bytes ? devices_.rename(static_cast<std::size_t>(row), *bytes) : Result::badCharacter;
    if (renamed != Result::renamed) {
        emit errorRaised(renamed == Result::noNameField
                             ? messageText(messages::kLineCannotBeNamed)
                             : messageText(messages::kNameRefused).arg(name));
        return renamed == Result::noNameField ? Renamed::notNameable : Renamed::badName;
    }
    emit deviceChanged(row);

    // Start reloads the CSV file: a name kept only in memory would be lost.
    QString failure;
    const report::WriteOutcome outcome = publisher_.publish(&failure);
    if (outcome.pageFailed || outcome.csvFailed) {
        emit errorRaised(storage::fromCp932(report::statusText(outcome)) + QLatin1Char('\n') + failure);
        return Renamed::notSaved;
    }
    return Renamed::saved;
}

void MonitorController::onPublished(const report::WriteOutcome& outcome, const QString& failure)
{
    fullList_.written();
    // A write while stopped (a rename) leaves the stopped status as it is.
    if (state_ != State::Running)
        return;
    const bool failed = outcome.pageFailed || outcome.csvFailed;
    QStringList words;
    if (failed)
        words << fileFailureWords(storage::nativeName(outcome.pageFailed ? settings_.htmlPath : settings_.csvPath));
    // New devices are turned away for as long as the list is full, not only in a tick that saw one.
    words << FullListWarning::statusWarning(devices_.full(), devices_.capacity());
    words.removeAll(QString());
    setStatus(report::statusText(outcome), failed ? Severity::error : Severity::info, words.join(QLatin1Char(' ')),
              failure);
}

void MonitorController::setState(State state)
{
    if (state_ == state)
        return;
    state_ = state;
    emit stateChanged(state_);
}

void MonitorController::setStandingProblem(const QString& words, const QString& detail)
{
    status_.setStandingProblem(words, detail);
    emit statusTextChanged(status_.text());
}

void MonitorController::setStatus(std::string_view cp932Text, Severity severity, const QString& warning,
                                  const QString& detail)
{
    status_.set(cp932Text, severity, warning, detail);
    emit statusTextChanged(status_.text());
}

} // namespace zqn::app
