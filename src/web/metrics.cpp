#include "web/metrics.h"

#include <prometheus/metric_family.h>
#include <prometheus/text_serializer.h>

#include <initializer_list>
#include <utility>
#include <vector>

#include "zqnlist_version.h"

namespace zqn::web {

namespace {

using prometheus::ClientMetric;
using prometheus::MetricFamily;
using prometheus::MetricType;

struct Sample {
    double value;
    std::vector<ClientMetric::Label> labels = {};
};

// The figures are a snapshot of what the monitor counts, so each scrape makes its families anew,
// as a collector does; a registry's counters could only be incremented towards them.
class Families {
public:
    Families& add(std::string name, MetricType type, std::string help, std::initializer_list<Sample> samples)
    {
        MetricFamily& family = families_.emplace_back(MetricFamily{std::move(name), std::move(help), type, {}});
        for (const Sample& sample : samples) {
            ClientMetric& metric = family.metric.emplace_back();
            metric.label = sample.labels;
            (type == MetricType::Counter ? metric.counter.value : metric.gauge.value) = sample.value;
        }
        return *this;
    }
    std::string text() const { return prometheus::TextSerializer().Serialize(families_); }

private:
    std::vector<MetricFamily> families_;
};

double number(std::uint64_t count)
{
    return static_cast<double>(count);
}

} // namespace

std::string metricsText(const Metrics& m)
{
    constexpr auto gauge = MetricType::Gauge;
    constexpr auto counter = MetricType::Counter;
    Families out;
    out.add("zqnlist_devices", gauge, "Devices in the list.", {{number(m.devices)}});
    out.add("zqnlist_device_capacity", gauge, "Most devices the list may hold.", {{number(m.deviceCapacity)}});
    out.add("zqnlist_running", gauge, "1 while monitoring, else 0.", {{m.running ? 1.0 : 0.0}});
    out.add("zqnlist_datagrams_total", counter, "Datagrams received, by what became of them.",
            {{number(m.recorded), {{"result", "recorded"}}},
             {number(m.filtered), {{"result", "filtered"}}},
             {number(m.refused), {{"result", "refused"}}}});
    out.add("zqnlist_devices_added_total", counter, "Devices new to the list.", {{number(m.added)}});
    out.add("zqnlist_device_moves_total", counter, "Devices heard from another address than the one listed.",
            {{number(m.moved)}});
    out.add("zqnlist_page_writes_total", counter, "Writes of the page and the CSV file.", {{number(m.pageWrites)}});
    out.add("zqnlist_page_write_failures_total", counter, "Failed writes, by file.",
            {{number(m.pageFailures), {{"file", "page"}}}, {number(m.csvFailures), {{"file", "csv"}}}});
    out.add("zqnlist_last_page_write_timestamp_seconds", gauge,
            "When the page was last written whole, in seconds since the epoch; 0 before the first.",
            {{static_cast<double>(m.lastPageWriteSeconds)}});
    out.add("zqnlist_build_info", gauge, "The version that runs; always 1.", {{1.0, {{"version", ZQN_VERSION}}}});
    if (const auto& p = m.process) {
        // Names, types and help texts as the client libraries have them.
        out.add("process_resident_memory_bytes", gauge, "Resident memory size in bytes.", {{p->residentBytes}});
        out.add("process_cpu_seconds_total", counter, "Total user and system CPU time spent in seconds.",
                {{p->cpuSeconds}});
        out.add("process_open_fds", gauge, "Number of open file descriptors.", {{p->openFds}});
        out.add("process_max_fds", gauge, "Maximum number of open file descriptors.", {{p->maxFds}});
        out.add("process_start_time_seconds", gauge, "Start time of the process since unix epoch in seconds.",
                {{p->startTimeSeconds}});
    }
    return out.text();
}

} // namespace zqn::web
