#include "web/metrics.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "zqnlist_version.h"

namespace zqn::web {
namespace {

struct TextCase {
    const char* name;
    Metrics metrics;
    std::vector<std::string> present; // each a run of whole lines
    std::string absent;
};

void PrintTo(const TextCase& c, std::ostream* out)
{
    *out << c.name;
}

class MetricsText : public testing::TestWithParam<TextCase> {};

TEST_P(MetricsText, SaysWhatScrapersSelect)
{
    const std::string text = metricsText(GetParam().metrics);
    for (const std::string& lines : GetParam().present)
        EXPECT_NE(text.find("\n" + lines), std::string::npos) << lines << "\nnot in:\n" << text;
    if (!GetParam().absent.empty()) {
        EXPECT_EQ(text.find(GetParam().absent), std::string::npos) << text;
    }
}

const ProcessFigures kProcess{.residentBytes = 12345678, .cpuSeconds = 1.25, .openFds = 17, .maxFds = 1024,
                              .startTimeSeconds = 1765245000.43};

INSTANTIATE_TEST_SUITE_P(
    Cases, MetricsText,
    testing::Values(
        TextCase{"arrivals_and_moves_are_counters",
                 {.added = 48, .moved = 5, .process = {}},
                 {"# TYPE zqnlist_devices_added_total counter\nzqnlist_devices_added_total 48\n",
                  "# TYPE zqnlist_device_moves_total counter\nzqnlist_device_moves_total 5\n",
                  "zqnlist_build_info{version=\"" ZQN_VERSION "\"} 1\n"},
                 {}},
        // A start time in seconds keeps its hundredths: not 1.76525e+09.
        TextCase{"process_figures_as_the_client_libraries_name_them",
                 {.process = kProcess},
                 {"# TYPE process_cpu_seconds_total counter\nprocess_cpu_seconds_total 1.25\n",
                  "process_resident_memory_bytes 12345678\n", "process_open_fds 17\n", "process_max_fds 1024\n",
                  "# TYPE process_start_time_seconds gauge\nprocess_start_time_seconds 1765245000.43\n"},
                 {}},
        TextCase{"process_figures_the_platform_cannot_tell_are_left_out", {}, {"zqnlist_devices 0\n"}, "process_"}),
    [](const testing::TestParamInfo<TextCase>& info) { return std::string(info.param.name); });

} // namespace
} // namespace zqn::web
