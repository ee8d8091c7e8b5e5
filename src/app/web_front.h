#pragma once

#include <QObject>
#include <QString>

#include <cstdint>
#include <memory>

#include "report/list_page.h"
#include "web/endpoint.h"

namespace zqn::app {

class MonitorController;

// The web endpoint as the monitor feeds it: the page and the CSV file as each write left them,
// and the metrics. Made only when WEB asks for it.
class WebFront : public QObject {
    Q_OBJECT

public:
    // Listens where value (WEB's text) says. Nothing, and no problem, when it says off; nothing
    // and the line that tells why when it cannot listen, with the short words for the status.
    static std::unique_ptr<WebFront> open(const MonitorController& controller, const std::string& value,
                                          QString& problem, QString& words);

    quint16 port() const { return endpoint_.port(); }

private:
    explicit WebFront(const MonitorController& controller);
    void onPublished(const report::WriteOutcome& outcome);
    web::Metrics metrics() const;

    const MonitorController& controller_;
    web::Endpoint endpoint_;
    std::uint64_t writes_ = 0;
    std::uint64_t pageFailures_ = 0;
    std::uint64_t csvFailures_ = 0;
    std::int64_t lastPageWriteSeconds_ = 0;
};

} // namespace zqn::app
