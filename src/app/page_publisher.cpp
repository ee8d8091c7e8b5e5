#include "app/page_publisher.h"

#include <algorithm>
#include <limits>
#include <utility>

#include "storage/file_store.h"

namespace zqn::app {

namespace {

// QTimer takes a signed 32-bit count of milliseconds.
constexpr int kLongestIntervalSeconds = std::numeric_limits<int>::max() / 1000;

} // namespace

PagePublisher::PagePublisher(const settings::Settings& settings, const discovery::DeviceList& devices,
                             text::Clock clock, QObject* parent)
    : QObject(parent)
    , settings_(settings)
    , devices_(devices)
    , clock_(std::move(clock))
    , pageTemplate_(report::defaultTemplate())
{
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(10000);
    connect(&timer_, &QTimer::timeout, this, &PagePublisher::onTimer);
}

QString PagePublisher::loadTemplate(const QString& path)
{
    QString failure;
    if (const auto bytes = storage::readExistingFile(path); !bytes)
        failure = bytes.error();
    else if (*bytes)
        pageTemplate_ = text::splitLines(**bytes);
    rebuildBlocks();
    return failure;
}

QString PagePublisher::existingPagePath() const
{
    if (!storage::isRegularFile(settings_.htmlPath))
        return {};
    return storage::nativeName(settings_.htmlPath);
}

void PagePublisher::rebuildBlocks()
{
    blocks_ = report::buildBlocks(pageTemplate_, settings_.saveInterval, settings_.htmlPath, settings_.heading);
}

void PagePublisher::start()
{
    timer_.setInterval(1); // the first page follows Start at once
    timer_.start();
}

void PagePublisher::stop()
{
    timer_.stop();
}

void PagePublisher::onTimer()
{
    const int seconds = settings_.saveInterval;
    if (seconds <= 0) {
        timer_.stop(); // a zero-interval timer would fire without pause
    } else {
        const int ms = std::min(seconds, kLongestIntervalSeconds) * 1000;
        if (timer_.interval() != ms)
            timer_.setInterval(ms);
    }
    publish();
}

report::WriteOutcome PagePublisher::publish(QString* failure)
{
    const std::string stamp = text::stampText(clock_());
    updateTime_ = QString::fromLatin1(stamp.data(), static_cast<qsizetype>(stamp.size()));
    emit updateTimeChanged(updateTime_);

    QStringList failures;
    bool pageInPlace = false;
    bool csvInPlace = false;
    const auto replace = [&](std::string_view cp932Path, const std::function<void(text::ByteSink&)>& produce) {
        bool inPlace = false;
        const storage::Status written = storage::replaceFileWith(storage::nativeName(cp932Path), produce, &inPlace);
        (cp932Path == settings_.htmlPath ? pageInPlace : csvInPlace) = inPlace;
        if (!written)
            failures.append(written.error());
        return written.ok();
    };
    report::WriteOutcome outcome = report::writeListPage(
        blocks_, devices_, {stamp, settings_.httpPort, settings_.htmlPath, settings_.csvPath}, replace);
    outcome.pageInPlace = pageInPlace;
    outcome.csvInPlace = csvInPlace;
    const QString why = failures.join(QLatin1Char('\n'));
    if (failure)
        *failure = why;
    emit published(outcome, why);
    return outcome;
}

} // namespace zqn::app
