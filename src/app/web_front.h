#pragma once

#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

#include "report/list_page.h"
#include "web/endpoint.h"

namespace zqn::app {

class PagePublisher;

// The web endpoint as the monitor feeds it: the page and the CSV file as each of the publisher's
// writes left them, the list as JSON made from that CSV file, and the metrics. Made only when WEB
// asks for it.
class WebFront : public QObject {
    Q_OBJECT

public:
    // The monitor as the metrics tell it.
    struct Reading {
        std::size_t devices = 0;
        std::size_t deviceCapacity = 0;
        bool running = false;
        std::uint64_t recorded = 0;
        std::uint64_t filtered = 0;
        std::uint64_t refused = 0;
        std::uint64_t added = 0;
        std::uint64_t moved = 0;
    };

    // A device's maker from the MAC as its line holds it (code page 932); empty when not known.
    using MakerLookup = std::function<QString(std::string_view mac)>;

    // Listens where value (WEB's text) says. Nothing, and no problem, when it says off; nothing
    // and the line that tells why when it cannot listen, with the short words for the status.
    static std::unique_ptr<WebFront> open(const PagePublisher& publisher, std::function<Reading()> read,
                                          MakerLookup makerOf, const std::string& value, QString& problem,
                                          QString& words);

    // Where it listens, as host:port ("*:port" on every address).
    const QString& address() const { return address_; }

private:
    WebFront(const PagePublisher& publisher, std::function<Reading()> read, MakerLookup makerOf);
    void onPublished(const report::WriteOutcome& outcome);
    void serveFile(web::Endpoint::File file, std::string_view cp932Path, bool failed, bool inPlace);
    web::Metrics metrics() const;

    const PagePublisher& publisher_;
    std::function<Reading()> read_;
    MakerLookup makerOf_;
    // Per file (page, CSV): what is served is a private copy, which no rewrite in place reaches.
    bool servedCopy_[2] = {false, false};
    web::Endpoint endpoint_;
    QString address_;
    std::uint64_t writes_ = 0;
    std::uint64_t pageFailures_ = 0;
    std::uint64_t csvFailures_ = 0;
    std::int64_t lastPageWriteSeconds_ = 0;
};

} // namespace zqn::app
