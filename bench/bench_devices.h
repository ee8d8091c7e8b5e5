#pragma once

#include <cstddef>
#include <string>

#include "discovery/device_list.h"

namespace zqn::bench {

// The MAC text of the device with that number: distinct for every number below 2^40. Writing
// into a string that already holds a MAC text allocates nothing.
void writeMac(std::string& mac, std::size_t device);
std::string macOf(std::size_t device);

// A sighting of that device, with an address and a time that vary with it.
discovery::Sighting sightingOf(std::size_t device, std::size_t moment);

// A list of that many devices as the monitor writes them, every seventh with a Japanese name.
discovery::DeviceList deviceListOf(std::size_t count);

} // namespace zqn::bench
