#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace zqn::discovery {

// A datagram of this length carries only two MAC octets (offsets 4 and 5) and is rewritten first.
inline constexpr std::size_t kShortFormLength = 182;

// Largest datagram the listener hands on; longer ones are dropped there.
inline constexpr std::size_t kMaxDatagramLength = 2048;

// The MAC text of an acceptable announcement ("0A:1B:2C:3D:4E:5F"; a count under 12 leaves
// empty pairs, "0A:1B:2C:3D::"), or nothing for a datagram that is dropped: one that fails the
// filter, or one too short to hold the bytes its count names. Never reads past the datagram.
// A fixed buffer, for the path of every datagram: nothing is allocated.
struct MacText {
    std::array<char, 17> chars{};
    std::size_t size = 0;
    std::string_view view() const { return {chars.data(), size}; }
};
std::optional<MacText> macTextIn(std::string_view datagram);

} // namespace zqn::discovery
