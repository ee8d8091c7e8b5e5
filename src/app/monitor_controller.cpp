#include "app/monitor_controller.h"

#include <QDateTime>
#include <QDir>

#include <algorithm>
#include <limits>

#include "app/file_sink.h"
#include "discovery/announcement.h"
#include "report/list_page.h"
#include "storage/cp932_codec.h"
#include "storage/file_store.h"
#include "text/messages.h"

namespace zqn::app {

namespace {

// QTimer takes a signed 32-bit count of milliseconds.
constexpr int kLongestIntervalSeconds = std::numeric_limits<int>::max() / 1000;

// The local time changes its text once a second; working it out costs a time-zone lookup, too
// much to pay for every datagram of a flood.
class SystemClock {
public:
    text::LocalDateTime operator()()
    {
        const qint64 second = QDateTime::currentSecsSinceEpoch();
        if (second != second_) {
            second_ = second;
            const QDateTime now = QDateTime::fromSecsSinceEpoch(second);
            const QDate d = now.date();
            const QTime t = now.time();
            local_ = {d.year(), d.month(), d.day(), t.hour(), t.minute(), t.second()};
        }
        return local_;
    }

private:
    qint64 second_ = -1;
    text::LocalDateTime local_;
};

} // namespace

MonitorController::MonitorController(Options options, QObject* parent)
    : QObject(parent), options_(std::move(options)), pageTemplate_(report::defaultTemplate())
{
    if (!options_.clock)
        options_.clock = SystemClock();
    pageTimer_.setTimerType(Qt::PreciseTimer);
    pageTimer_.setInterval(10000);
    connect(&pageTimer_, &QTimer::timeout, this, &MonitorController::onPageTimer);
    connect(&listener_, &discovery::UdpListener::dataReceived, this,
            [this](QByteArrayView datagram, QByteArrayView fromIp, quint16) { handleDatagram(datagram, fromIp); });
}

MonitorController::~MonitorController() = default;

text::LocalDateTime MonitorController::now() const
{
    return options_.clock();
}

void MonitorController::startUp()
{
    setStatus(text::messages::kStopped);

    if (const auto bytes = storage::readExistingFile(options_.settingsPath); !bytes)
        emit errorRaised(bytes.error());
    else if (*bytes)
        settings_ = settings::parseSettings(**bytes);

    devices_.clear();
    if (const auto bytes = storage::readExistingFile(settings_.csvPath); !bytes) {
        settings_.autoStart = false;
        setStatus(text::messages::kCsvUnreadable);
    } else if (*bytes) {
        devices_.load(**bytes);
    }
    emit devicesReset();

    if (const auto bytes = storage::readExistingFile(options_.templatePath); !bytes)
        emit errorRaised(bytes.error());
    else if (*bytes)
        pageTemplate_ = text::splitLines(**bytes);
    rebuildBlocks();
}

void MonitorController::runDeferredStart()
{
    if (settings_.autoStart)
        start();
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

    pageTimer_.setInterval(1); // the first page follows Start at once
    pageTimer_.start();

    const int port = settings_.udpPort;
    const bool portInRange = port >= 0 && port <= 0xFFFF;
    if (!portInRange || !listener_.setLocalPort(static_cast<quint16>(port))) {
        // Listening nowhere while showing "started" would hide the failure; stay stopped.
        pageTimer_.stop();
        listener_.setLocalPort(0);
        setStatus(text::messages::kStopped);
        emit errorRaised(QStringLiteral("ポート %1 は開けません").arg(port));
        return;
    }

    setState(State::Running);
    setStatus(text::messages::kStarting);
}

void MonitorController::stop()
{
    if (!canStop())
        return;
    const bool lastWriteFailed = !writeLastPage();
    pageTimer_.stop();
    if (!lastWriteFailed)
        setStatus(text::messages::kStopped);
    setState(State::Stopped);
    if (!listener_.setLocalPort(0))
        emit errorRaised(listener_.errorString());
}

bool MonitorController::writeLastPage()
{
    // Sightings received since the last tick would otherwise be lost, and Start reloads the CSV.
    listener_.readPending();
    return writePage();
}

void MonitorController::openSettings()
{
    if (canOpenSettings())
        setState(State::SettingsOpen);
}

void MonitorController::applySettings(const settings::Settings& edited)
{
    if (state_ == State::Running)
        return;
    settings_ = edited;
    rebuildBlocks();
    setState(State::Stopped);
}

void MonitorController::cancelSettings()
{
    if (state_ == State::SettingsOpen)
        setState(State::Stopped);
}

bool MonitorController::shutDown(const settings::PanelFields& fields)
{
    if (state_ == State::Running)
        writeLastPage();
    pageTimer_.stop();

    const settings::Settings toWrite = settings::withPanelFields(settings_, fields);
    std::string existing;
    // A file that cannot be read is written afresh; the write below reports one that cannot be written.
    if (auto bytes = storage::readExistingFile(options_.settingsPath); bytes && *bytes)
        existing = std::move(**bytes);
    if (const auto written = storage::replaceFile(options_.settingsPath, settings::writeSettings(existing, toWrite));
        !written) {
        emit errorRaised(QStringLiteral("設定ファイル %1 に書き込めません。\n%2")
                             .arg(QDir::toNativeSeparators(options_.settingsPath), written.error()));
        return false;
    }
    return true;
}

QString MonitorController::existingPagePath() const
{
    if (!storage::isRegularFile(settings_.htmlPath))
        return {};
    return storage::nativeName(settings_.htmlPath);
}

void MonitorController::handleDatagram(QByteArrayView datagram, QByteArrayView fromIp)
{
    auto mac = discovery::macTextOf(std::string_view(datagram.data(), static_cast<std::size_t>(datagram.size())));
    if (!mac)
        return;
    const text::LocalDateTime t = now();
    if (t != sightingTime_) {
        sightingTime_ = t;
        sighting_.date = text::dateText(t);
        sighting_.time = text::timeText(t);
    }
    sighting_.mac = std::move(*mac);
    sighting_.ip.assign(fromIp.data(), static_cast<std::size_t>(fromIp.size()));
    const auto result = devices_.record(sighting_);
    const int row = static_cast<int>(result.index);
    if (result.appended)
        emit deviceAppended(row);
    else
        emit deviceChanged(row);
}

void MonitorController::onPageTimer()
{
    const int seconds = settings_.saveInterval;
    if (seconds <= 0) {
        pageTimer_.stop(); // a zero-interval timer would fire without pause
    } else {
        const int ms = std::min(seconds, kLongestIntervalSeconds) * 1000;
        if (pageTimer_.interval() != ms)
            pageTimer_.setInterval(ms);
    }
    writePage();
}

bool MonitorController::writePage()
{
    const std::string stamp = text::stampText(now());
    updateTime_ = QString::fromLatin1(stamp.data(), static_cast<qsizetype>(stamp.size()));
    emit updateTimeChanged(updateTime_);

    StorageFileSink files;
    const report::WriteOutcome outcome = report::writeListPage(
        blocks_, devices_, {stamp, settings_.httpPort, settings_.htmlPath, settings_.csvPath}, files);
    setStatus(report::statusText(outcome));
    return !outcome.pageFailed && !outcome.csvFailed;
}

void MonitorController::rebuildBlocks()
{
    blocks_ = report::buildBlocks(pageTemplate_, settings_.saveInterval, settings_.htmlPath, settings_.heading);
}

void MonitorController::setState(State state)
{
    if (state_ == state)
        return;
    state_ = state;
    emit stateChanged(state_);
}

void MonitorController::setStatus(std::string_view cp932Text)
{
    statusText_ = storage::fromCp932(cp932Text);
    emit statusTextChanged(statusText_);
}

} // namespace zqn::app
