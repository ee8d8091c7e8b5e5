#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace zqn::web {

// The process's own figures, as every Prometheus client library exports them.
struct ProcessFigures {
    double residentBytes = 0;
    double cpuSeconds = 0; // user and system
    double openFds = 0;
    double maxFds = 0;
    double startTimeSeconds = 0; // since the epoch
};

// The monitor's health as /metrics tells it; filled in by whoever runs the monitor.
struct Metrics {
    std::uint64_t devices = 0;
    std::uint64_t deviceCapacity = 0;
    bool running = false;
    std::uint64_t recorded = 0;  // datagrams that updated or added a device
    std::uint64_t filtered = 0;  // datagrams that were not announcements
    std::uint64_t refused = 0;   // announcements of new devices turned away by a full list
    std::uint64_t added = 0;     // devices new to the list
    std::uint64_t moved = 0;     // devices heard from another address than their line's
    std::uint64_t pageWrites = 0;
    std::uint64_t pageFailures = 0;
    std::uint64_t csvFailures = 0;
    std::int64_t lastPageWriteSeconds = 0; // since the epoch; 0 before the first
    std::optional<ProcessFigures> process; // left out where the platform cannot tell them
};

// The Prometheus text exposition format, version 0.0.4.
std::string metricsText(const Metrics& metrics);

} // namespace zqn::web
