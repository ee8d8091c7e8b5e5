#include "app/monitor_controller.h"

#include <QDateTime>
#include <QDir>

#include <utility>

#include "app/failure_words.h"
#include "app/platform.h"
#include "app/web_front.h"
#include "discovery/announcement.h"
#include "report/device_address.h"
#include "report/list_page.h"
#include "storage/cp932_codec.h"
#include "storage/file_store.h"
#include "text/messages.h"

namespace zqn::app {

namespace {

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

QString agoText(qint64 seconds)
{
    if (seconds < 60)
        return QStringLiteral("%1秒前").arg(seconds);
    if (seconds < 3600)
        return QStringLiteral("%1分前").arg(seconds / 60);
    if (seconds < 86400)
        return QStringLiteral("%1時間前").arg(seconds / 3600);
    return QStringLiteral("%1日前").arg(seconds / 86400);
}

} // namespace

MonitorController::MonitorController(Options options, QObject* parent)
    : QObject(parent)
    , options_(std::move(options))
    , listener_(datagramBatchReader())
    , publisher_(settings_, devices_, [this] { return now(); })
    , makers_(options_.makerFolder)
    , notices_(options_.noticeWindowMs)
{
    notices_.setMakerLookup([this](const QString& mac) { return makers_.makerOf(storage::toCp932(mac)); });
    if (!options_.clock)
        options_.clock = SystemClock();
    connect(&publisher_, &PagePublisher::due, this, &MonitorController::writePage);
    connect(&publisher_, &PagePublisher::updateTimeChanged, this, &MonitorController::updateTimeChanged);
    deferredStartTimer_.setSingleShot(true);
    deferredStartTimer_.setInterval(1);
    connect(&deferredStartTimer_, &QTimer::timeout, this, &MonitorController::runDeferredStart);
    connect(&notices_, &DeviceNotices::noticeReady, this, &MonitorController::noticeRaised);
    connect(&listener_, &discovery::UdpListener::dataReceived, this,
            [this](QByteArrayView datagram, QByteArrayView fromIp, quint16) { handleDatagram(datagram, fromIp); });
}

MonitorController::~MonitorController() = default;

quint16 MonitorController::webPort() const
{
    return web_ ? web_->port() : 0;
}

text::LocalDateTime MonitorController::now() const
{
    return options_.clock();
}

void MonitorController::startUp()
{
    setStatus(text::messages::kStopped);

    if (const auto bytes = storage::readExistingFile(options_.settingsPath); !bytes) {
        // Writing the defaults over it at exit would lose every value the user had.
        settingsUnreadable_ = true;
        emit errorRaised(bytes.error() + QStringLiteral("\n%1。").arg(storage::fromCp932(text::messages::kSettingsNotSaved)));
        setStatus(text::messages::kStopped); // its tooltip now says so too
    } else if (*bytes) {
        settings_ = settings::parseSettings(**bytes);
    }
    devices_.setCapacity(static_cast<std::size_t>(settings_.maxDevices));

    web_ = WebFront::open(*this, settings_.web, webProblem_, webWords_);
    if (!webProblem_.isEmpty()) {
        setStatus(text::messages::kStopped); // now with the problem
        emit webFailed(webProblem_);
    }

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
        publisher_.setTemplate(text::splitLines(**bytes));
    publisher_.rebuildBlocks();
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
        const QString words = portInRange ? portFailureWords(listener_.bindError())
                                          : storage::fromCp932(text::messages::kPortNotAllowed);
        const QString systemWords = portInRange ? listener_.errorString() : QStringLiteral("0-65535");
        // Listening nowhere while showing "started" would hide the failure; stay stopped.
        publisher_.stop();
        listener_.bindStopped();
        setStatus(text::messages::kStopped, words, QStringLiteral("ポート %1: %2").arg(port).arg(systemWords));
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
    publisher_.stop();
    if (!lastWriteFailed)
        setStatus(text::messages::kStopped);
    setState(State::Stopped);
    if (!listener_.bindStopped())
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

void MonitorController::cancelSettings()
{
    if (state_ != State::SettingsOpen)
        return;
    setState(State::Stopped);
}

PanelFields MonitorController::panelFields() const
{
    // Until the panel was used its number fields can only repeat the record.
    return panelFields_.value_or(panelFieldsFor(settings_));
}

void MonitorController::setNotifyNewDevices(bool on)
{
    if (settings_.notifyNewDevices == on)
        return;
    settings_.notifyNewDevices = on;
    if (!on)
        notices_.clear();
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
    const settings::Settings toWrite = withPanelFields(settings_, panelFields());
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
    const auto mac = discovery::macTextIn(std::string_view(datagram.data(), static_cast<std::size_t>(datagram.size())));
    if (!mac) {
        ++datagrams_.filtered;
        return;
    }
    const text::LocalDateTime t = now();
    if (t != sightingTime_) {
        sightingTime_ = t;
        sighting_.date = text::dateText(t);
        sighting_.time = text::timeText(t);
    }
    sighting_.mac.assign(mac->view()); // into the capacity of the last one
    sighting_.ip.assign(fromIp.data(), static_cast<std::size_t>(fromIp.size()));
    const auto result = devices_.record(sighting_);
    if (result.refused) {
        ++datagrams_.refused;
        if (!refusedSinceTick_)
            noteRefusals();
        return;
    }
    ++datagrams_.recorded;
    const int row = static_cast<int>(result.index);
    if (result.appended) {
        emit deviceAppended(row);
        if (settings_.notifyNewDevices)
            notices_.deviceAppended(storage::fromCp932(sighting_.mac), storage::fromCp932(sighting_.ip));
    } else {
        emit deviceChanged(row);
        if (result.ipChanged && settings_.notifyNewDevices)
            notices_.deviceMoved(storage::fromCp932(sighting_.mac), storage::fromCp932(result.previousIp),
                                 storage::fromCp932(sighting_.ip));
    }
}

std::optional<discovery::DeviceLine> MonitorController::fieldsAt(int row) const
{
    if (row < 0)
        return std::nullopt;
    return devices_.fields(static_cast<std::size_t>(row));
}

std::optional<MonitorController::Device> MonitorController::device(int row) const
{
    const auto fields = fieldsAt(row);
    if (!fields)
        return std::nullopt;
    return Device{storage::fromCp932(fields->mac), storage::fromCp932(fields->ip), storage::fromCp932(fields->name)};
}

QUrl MonitorController::deviceUrl(int row) const
{
    const auto fields = fieldsAt(row);
    if (!fields || fields->ip.empty())
        return {};
    // The address comes from a file anyone may have edited: only a plain host is opened.
    const QUrl url(storage::fromCp932(report::deviceAddress(fields->ip, settings_.httpPort)), QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty() || !url.path().isEmpty())
        return {};
    return url;
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
                             ? QStringLiteral("この行には名前を付けられません。")
                             : QStringLiteral("名前「%1」は使えません。改行や Shift_JIS にない文字は名前にできません。").arg(name));
        return renamed == Result::noNameField ? Renamed::notNameable : Renamed::badName;
    }
    emit deviceChanged(row);

    // Start reloads the CSV file: a name kept only in memory would be lost.
    const report::WriteOutcome outcome = publisher_.publish();
    if (outcome.pageFailed || outcome.csvFailed) {
        emit errorRaised(storage::fromCp932(report::statusText(outcome)));
        return Renamed::notSaved;
    }
    return Renamed::saved;
}

bool MonitorController::canRename(int row) const
{
    return row >= 0 && devices_.canRename(static_cast<std::size_t>(row));
}

QString MonitorController::deviceToolTip(int row) const
{
    const auto fields = fieldsAt(row);
    if (!fields)
        return {};
    QStringList lines;
    if (const QString maker = makers_.makerOf(fields->mac); !maker.isEmpty())
        lines << QStringLiteral("メーカー: %1").arg(maker);
    const QDateTime heard(QDate::fromString(storage::fromCp932(fields->date), QStringLiteral("yyyy/MM/dd")),
                          QTime::fromString(storage::fromCp932(fields->time), QStringLiteral("HH:mm:ss")));
    if (heard.isValid()) {
        const text::LocalDateTime t = now();
        const QDateTime at(QDate(t.year, t.month, t.day), QTime(t.hour, t.minute, t.second));
        QString line = QStringLiteral("最終受信: %1").arg(heard.toString(QStringLiteral("yyyy/MM/dd HH:mm:ss")));
        if (const qint64 seconds = heard.secsTo(at); seconds >= 0)
            line += QStringLiteral(" (%1)").arg(agoText(seconds));
        lines << line;
    }
    return lines.join(QLatin1Char('\n'));
}

bool MonitorController::writePage()
{
    const report::WriteOutcome outcome = publisher_.publish();
    refusedSinceTick_ = false;
    QStringList words;
    if (outcome.pageFailed || outcome.csvFailed)
        words << fileFailureWords(storage::nativeName(outcome.pageFailed ? settings_.htmlPath : settings_.csvPath));
    // New devices are turned away for as long as the list is full, not only in a tick that saw one.
    if (devices_.full())
        words << capWarning();
    words.removeAll(QString());
    setStatus(report::statusText(outcome), words.join(QLatin1Char(' ')), publisher_.failures().join(QLatin1Char('\n')));
    return !outcome.pageFailed && !outcome.csvFailed;
}

QString MonitorController::capWarning() const
{
    return QStringLiteral("機器数が上限 %1 台に達しました").arg(devices_.capacity());
}

void MonitorController::noteRefusals()
{
    refusedSinceTick_ = true;
    if (capWarnedAt_.isValid() && !capWarnedAt_.hasExpired(options_.capWarningIntervalMs))
        return;
    capWarnedAt_.start();
    const QString warning = capWarning() + QStringLiteral("。新しい機器は記録されません。");
    emit capWarningRaised(warning);
    if (settings_.notifyNewDevices) // already rare: told at once
        emit noticeRaised(QStringLiteral("ZQN LIST"), warning);
}

void MonitorController::setState(State state)
{
    if (state_ == state)
        return;
    state_ = state;
    emit stateChanged(state_);
}

QString MonitorController::statusDetail() const
{
    QStringList lines{statusDetail_, webProblem_};
    if (settingsUnreadable_)
        lines << storage::fromCp932(text::messages::kSettingsNotSaved);
    lines.removeAll(QString());
    return lines.join(QLatin1Char('\n'));
}

void MonitorController::setStatus(std::string_view cp932Text, const QString& warning, const QString& detail)
{
    runStatus_ = storage::fromCp932(cp932Text);
    statusText_ = runStatus_;
    statusDetail_ = detail;
    for (const QString& extra : {warning, webWords_}) {
        if (!extra.isEmpty())
            statusText_ += QLatin1Char(' ') + extra;
    }
    emit statusTextChanged(statusText_);
}

} // namespace zqn::app
