#include "web/metrics.h"

#include <gtest/gtest.h>

#include "zqnlist_version.h"

namespace zqn::web {
namespace {

// Dashboards and alert rules select these names, labels and types: any change breaks them.
TEST(MetricsText, NamesLabelsTypesAndValuesStayAsScrapersReadThem)
{
    Metrics m{.devices = 50,
              .deviceCapacity = 65536,
              .running = true,
              .recorded = 1000,
              .filtered = 3,
              .refused = 2,
              .added = 48,
              .moved = 5,
              .pageWrites = 7,
              .pageFailures = 1,
              .csvFailures = 4,
              .lastPageWriteSeconds = 1765245600,
              .process = ProcessFigures{.residentBytes = 12345678,
                                        .cpuSeconds = 1.25,
                                        .openFds = 17,
                                        .maxFds = 1024,
                                        .startTimeSeconds = 1765245000.43}};
    EXPECT_EQ(metricsText(m), R"(# HELP zqnlist_devices Devices in the list.
# TYPE zqnlist_devices gauge
zqnlist_devices 50
# HELP zqnlist_device_capacity Most devices the list may hold.
# TYPE zqnlist_device_capacity gauge
zqnlist_device_capacity 65536
# HELP zqnlist_running 1 while monitoring, else 0.
# TYPE zqnlist_running gauge
zqnlist_running 1
# HELP zqnlist_datagrams_total Datagrams received, by what became of them.
# TYPE zqnlist_datagrams_total counter
zqnlist_datagrams_total{result="recorded"} 1000
zqnlist_datagrams_total{result="filtered"} 3
zqnlist_datagrams_total{result="refused"} 2
# HELP zqnlist_devices_added_total Devices new to the list.
# TYPE zqnlist_devices_added_total counter
zqnlist_devices_added_total 48
# HELP zqnlist_device_moves_total Devices heard from another address than the one listed.
# TYPE zqnlist_device_moves_total counter
zqnlist_device_moves_total 5
# HELP zqnlist_page_writes_total Writes of the page and the CSV file.
# TYPE zqnlist_page_writes_total counter
zqnlist_page_writes_total 7
# HELP zqnlist_page_write_failures_total Failed writes, by file.
# TYPE zqnlist_page_write_failures_total counter
zqnlist_page_write_failures_total{file="page"} 1
zqnlist_page_write_failures_total{file="csv"} 4
# HELP zqnlist_last_page_write_timestamp_seconds When the page was last written whole, in seconds since the epoch; 0 before the first.
# TYPE zqnlist_last_page_write_timestamp_seconds gauge
zqnlist_last_page_write_timestamp_seconds 1765245600
# HELP zqnlist_build_info The version that runs; always 1.
# TYPE zqnlist_build_info gauge
zqnlist_build_info{version=")" ZQN_VERSION R"("} 1
# HELP process_resident_memory_bytes Resident memory size in bytes.
# TYPE process_resident_memory_bytes gauge
process_resident_memory_bytes 12345678
# HELP process_cpu_seconds_total Total user and system CPU time spent in seconds.
# TYPE process_cpu_seconds_total counter
process_cpu_seconds_total 1.25
# HELP process_open_fds Number of open file descriptors.
# TYPE process_open_fds gauge
process_open_fds 17
# HELP process_max_fds Maximum number of open file descriptors.
# TYPE process_max_fds gauge
process_max_fds 1024
# HELP process_start_time_seconds Start time of the process since unix epoch in seconds.
# TYPE process_start_time_seconds gauge
process_start_time_seconds 1765245000.43
)");
}

TEST(MetricsText, ProcessFiguresTheSystemCannotTellAreLeftOut)
{
    const std::string text = metricsText(Metrics{});
    EXPECT_EQ(text.find("process_"), std::string::npos) << text;
    EXPECT_NE(text.find("\nzqnlist_devices_added_total 0\n"), std::string::npos) << text;
}

} // namespace
} // namespace zqn::web
