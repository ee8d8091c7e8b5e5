#pragma once

#include <QByteArrayView>

#include <cstdint>
#include <optional>

#include "discovery/device_list.h"
#include "text/stamp.h"

namespace zqn::app {

// Puts one datagram into the device list: its MAC, the address it came from and the time, and
// counts what became of it. Its texts are reused, so that a datagram allocates nothing.
class SightingRecorder {
public:
    struct Counts {
        std::uint64_t recorded = 0;
        std::uint64_t filtered = 0; // not an announcement
        std::uint64_t refused = 0;  // a new device, and the list is full
        std::uint64_t added = 0;    // of the recorded: a new device
        std::uint64_t moved = 0;    // of the recorded: a device heard from another address
    };

    explicit SightingRecorder(discovery::DeviceList& devices) : devices_(devices) {}

    // Nothing for a datagram that is not an announcement.
    std::optional<discovery::DeviceList::RecordResult> record(QByteArrayView datagram, QByteArrayView fromIp,
                                                              const text::LocalDateTime& now);
    const Counts& counts() const { return counts_; }

private:
    discovery::DeviceList& devices_;
    discovery::Sighting sighting_; // its date and time texts change once a second
    text::LocalDateTime sightingTime_;
    Counts counts_;
};

} // namespace zqn::app
