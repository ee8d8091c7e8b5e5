#include "app/web_front.h"

#include <QDateTime>

#include "app/failure_words.h"
#include "app/message_text.h"
#include "app/page_publisher.h"
#include "app/platform.h"
#include "settings/settings.h"
#include "storage/file_store.h"

namespace zqn::app {

namespace {

// The file just written, or none (503) when it cannot be opened.
void serveFile(web::Endpoint& endpoint, web::Endpoint::File file, std::string_view cp932Path)
{
    const auto opened = cp932Path.empty() ? std::nullopt : openForServing(storage::nativeName(cp932Path));
    if (!opened)
        endpoint.withdraw(file);
    else if (!endpoint.serve(file, opened->descriptor, opened->size))
        closeServable(*opened);
}

} // namespace

WebFront::WebFront(const PagePublisher& publisher, std::function<Reading()> read)
    : publisher_(publisher)
    , read_(std::move(read))
    , endpoint_([this] { return metrics(); })
{
    connect(&publisher, &PagePublisher::published, this, &WebFront::onPublished);
}

std::unique_ptr<WebFront> WebFront::open(const PagePublisher& publisher, std::function<Reading()> read,
                                         const std::string& value, QString& problem, QString& words)
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
    std::unique_ptr<WebFront> front(new WebFront(publisher, std::move(read)));
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
    // A failed replace leaves the previous file whole on disk: it stays what is served.
    if (!outcome.pageFailed) {
        serveFile(endpoint_, web::Endpoint::File::page, publisher_.htmlPath());
        if (!publisher_.htmlPath().empty())
            lastPageWriteSeconds_ = QDateTime::currentSecsSinceEpoch();
    }
    if (!outcome.csvFailed)
        serveFile(endpoint_, web::Endpoint::File::csv, publisher_.csvPath());
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
