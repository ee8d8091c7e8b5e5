#pragma once

#include <cstddef>

namespace zqn::discovery {

// Any host on the network can announce made-up MAC addresses, so the device list stops taking
// new devices at a cap; this one is far above any real network the monitor watches.
inline constexpr std::size_t kDefaultDeviceCapacity = 65'536;

} // namespace zqn::discovery
