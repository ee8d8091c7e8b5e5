#include "app/web_front.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <map>

#include "app/failure_words.h"
#include "app/message_text.h"
#include "app/page_publisher.h"
#include "app/platform.h"
#include "discovery/device_line.h"
#include "settings/settings.h"
#include "storage/cp932_codec.h"
#include "storage/file_store.h"
#include "text/line_list.h"

namespace zqn::app {

namespace {

// When devices were last heard, with the offset of the local time then. The offset is looked up
// once a day named, not once a line: the time-zone lookup costs more than the rest of a line.
class LastHeard {
public:
    // Empty when the line does not say.
    QString of(const discovery::DeviceLine& line)
    {
        const QTime time = QTime::fromString(storage::fromCp932(line.time), QStringLiteral("HH:mm:ss"));
        const Day& day = dayOf(line.date);
        if (!day.date.isValid() || !time.isValid())
            return {};
        if (day.wholeDay)
            return day.head + time.toString(Qt::ISODate) + day.tail;
        const QDateTime heard(day.date, time);
        return heard.toOffsetFromUtc(heard.offsetFromUtc()).toString(Qt::ISODate);
    }

private:
    struct Day {
        QDate date;
        bool wholeDay = false; // one offset from midnight to midnight: head and tail hold for any time
        QString head;          // "yyyy-MM-ddT"
        QString tail;          // the offset, as Qt writes it
    };

    const Day& dayOf(std::string_view text)
    {
        auto known = days_.find(text);
        if (known != days_.end())
            return known->second;
        Day day;
        day.date = QDate::fromString(storage::fromCp932(text), QStringLiteral("yyyy/MM/dd"));
        const QDateTime first(day.date, QTime(0, 0)), last(day.date, QTime(23, 59, 59));
        if (first.isValid() && last.isValid() && first.offsetFromUtc() == last.offsetFromUtc()) {
            const QString midnight = first.toOffsetFromUtc(first.offsetFromUtc()).toString(Qt::ISODate);
            day.wholeDay = midnight.size() > kTimeEnds;
            day.head = midnight.left(kTimeStarts);
            day.tail = midnight.mid(kTimeEnds);
        }
        return days_.emplace(std::string(text), std::move(day)).first->second;
    }

    static constexpr qsizetype kTimeStarts = 11; // "yyyy-MM-ddT"
    static constexpr qsizetype kTimeEnds = 19;   // "yyyy-MM-ddTHH:mm:ss"
    std::map<std::string, Day, std::less<>> days_;
};

// The CSV file's lines as JSON: an object of fields for each device line, the text alone for any
// other line.
std::string deviceListJson(std::string_view csv, const WebFront::MakerLookup& makerOf)
{
    QJsonArray lines;
    LastHeard lastHeard;
    for (const std::string& text : text::splitLines(csv)) {
        const auto line = discovery::DeviceLine::parse(text);
        if (!line) {
            lines.append(QJsonObject{{QStringLiteral("text"), storage::fromCp932(text)}});
            continue;
        }
        QJsonObject device{
            {QStringLiteral("mac"), storage::fromCp932(line->mac)},
            {QStringLiteral("ip"), storage::fromCp932(line->ip)},
            {QStringLiteral("date"), storage::fromCp932(line->date)},
            {QStringLiteral("time"), storage::fromCp932(line->time)},
            {QStringLiteral("name"), storage::fromCp932(line->name)},
        };
        if (const QString maker = makerOf ? makerOf(line->mac) : QString(); !maker.isEmpty())
            device.insert(QStringLiteral("maker"), maker);
        if (const QString heard = lastHeard.of(*line); !heard.isEmpty())
            device.insert(QStringLiteral("last_heard"), heard);
        lines.append(device);
    }
    return QJsonDocument(lines).toJson(QJsonDocument::Compact).toStdString();
}

} // namespace

WebFront::WebFront(const PagePublisher& publisher, std::function<Reading()> read, MakerLookup makerOf)
    : publisher_(publisher)
    , read_(std::move(read))
    , makerOf_(std::move(makerOf))
    , endpoint_([this] { return metrics(); })
{
    endpoint_.deriveJson([this](std::string_view csv) {
        std::string json = deviceListJson(csv, makerOf_);
        // Making it took some ten times its size, which the allocator would otherwise keep.
        releaseFreedMemory();
        return json;
    });
    connect(&publisher, &PagePublisher::published, this, &WebFront::onPublished);
}

std::unique_ptr<WebFront> WebFront::open(const PagePublisher& publisher, std::function<Reading()> read,
                                         MakerLookup makerOf, const std::string& value, QString& problem,
                                         QString& words)
{
    const QString setting = QString::fromLatin1(value.data(), qsizetype(value.size()));
    const settings::WebAddress address = settings::parseWebAddress(value);
    if (address.kind == settings::WebAddress::Kind::off)
        return nullptr;
    if (address.kind == settings::WebAddress::Kind::bad) {
        words = messageText(text::messages::kWebSettingBad).arg(setting);
        problem = words + QStringLiteral(": ") + QString::fromStdString(address.problem);
        return nullptr;
    }
    std::unique_ptr<WebFront> front(new WebFront(publisher, std::move(read), std::move(makerOf)));
    const QString failure = front->endpoint_.listen(QString::fromStdString(address.host),
                                                    static_cast<quint16>(address.port), ignoreBrokenPipes(), {});
    if (!failure.isEmpty()) {
        problem = messageText(text::messages::kWebPortCannotOpen).arg(setting).arg(address.port) + QStringLiteral(": ")
                  + failure;
        const QString reason = portFailureWords(front->endpoint_.listenErrno());
        words = reason.isEmpty() ? problem : QStringLiteral("WEB: %1").arg(reason);
        return nullptr;
    }
    const QString host = QString::fromStdString(address.host);
    front->address_ = QStringLiteral("%1:%2")
                          .arg(host.isEmpty() ? QStringLiteral("*") : host.contains(u':') ? u'[' + host + u']' : host)
                          .arg(address.port);
    return front;
}

void WebFront::onPublished(const report::WriteOutcome& outcome)
{
    ++writes_;
    pageFailures_ += outcome.pageFailed ? 1 : 0;
    csvFailures_ += outcome.csvFailed ? 1 : 0;
    serveFile(web::Endpoint::File::page, publisher_.htmlPath(), outcome.pageFailed, outcome.pageInPlace);
    if (!outcome.pageFailed && !publisher_.htmlPath().empty())
        lastPageWriteSeconds_ = QDateTime::currentSecsSinceEpoch();
    serveFile(web::Endpoint::File::csv, publisher_.csvPath(), outcome.csvFailed, outcome.csvInPlace);
}

// The file just written, or none (503) when it cannot be opened. A failed replace leaves the
// previous file whole, and it stays what is served, unless the failure was a rewrite of that very
// file. A file rewritten in place is served from a private copy, so that the next such rewrite
// cannot reach a reader in mid-transfer.
void WebFront::serveFile(web::Endpoint::File file, std::string_view cp932Path, bool failed, bool inPlace)
{
    bool& servedCopy = servedCopy_[file == web::Endpoint::File::page ? 0 : 1];
    if (failed) {
        if (inPlace && !servedCopy)
            endpoint_.withdraw(file);
        return;
    }
    const QString path = cp932Path.empty() ? QString() : storage::nativeName(cp932Path);
    const auto opened = path.isEmpty() ? std::nullopt : inPlace ? snapshotForServing(path) : openForServing(path);
    servedCopy = opened && inPlace;
    if (!opened)
        endpoint_.withdraw(file);
    else if (!endpoint_.serve(file, opened->descriptor, opened->size))
        closeServable(*opened);
}

web::Metrics WebFront::metrics() const
{
    const Reading now = read_();
    return {
        .devices = now.devices,
        .deviceCapacity = now.deviceCapacity,
        .running = now.running,
        .recorded = now.recorded,
        .filtered = now.filtered,
        .refused = now.refused,
        .added = now.added,
        .moved = now.moved,
        .pageWrites = writes_,
        .pageFailures = pageFailures_,
        .csvFailures = csvFailures_,
        .lastPageWriteSeconds = lastPageWriteSeconds_,
        .process = processFigures(),
    };
}

} // namespace zqn::app
