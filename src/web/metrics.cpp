#include "web/metrics.h"

#include <string_view>

namespace zqn::web {

namespace {

class Exposition {
public:
    Exposition& family(std::string_view name, std::string_view type, std::string_view help)
    {
        name_ = name;
        text_.append("# HELP ").append(name).append(" ").append(help).append("\n");
        text_.append("# TYPE ").append(name).append(" ").append(type).append("\n");
        return *this;
    }
    // labels: "" or `key="value"`, fixed texts that need no escaping.
    template <typename Number>
    Exposition& sample(Number value, std::string_view labels = {})
    {
        text_.append(name_);
        if (!labels.empty())
            text_.append("{").append(labels).append("}");
        text_.append(" ").append(std::to_string(value)).append("\n");
        return *this;
    }
    std::string take() { return std::move(text_); }

private:
    std::string text_;
    std::string_view name_;
};

} // namespace

std::string metricsText(const Metrics& m)
{
    Exposition out;
    out.family("zqnlist_devices", "gauge", "Devices in the list.").sample(m.devices);
    out.family("zqnlist_device_capacity", "gauge", "Most devices the list may hold.").sample(m.deviceCapacity);
    out.family("zqnlist_running", "gauge", "1 while monitoring, else 0.").sample(m.running ? 1 : 0);
    out.family("zqnlist_datagrams_total", "counter", "Datagrams received, by what became of them.")
        .sample(m.recorded, R"(result="recorded")")
        .sample(m.filtered, R"(result="filtered")")
        .sample(m.refused, R"(result="refused")");
    out.family("zqnlist_page_writes_total", "counter", "Writes of the page and the CSV file.").sample(m.pageWrites);
    out.family("zqnlist_page_write_failures_total", "counter", "Failed writes, by file.")
        .sample(m.pageFailures, R"(file="page")")
        .sample(m.csvFailures, R"(file="csv")");
    out.family("zqnlist_last_page_write_timestamp_seconds", "gauge",
               "When the page was last written whole, in seconds since the epoch; 0 before the first.")
        .sample(m.lastPageWriteSeconds);
    return out.take();
}

} // namespace zqn::web
