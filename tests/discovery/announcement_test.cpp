#include "discovery/announcement.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <optional>

namespace zqn::discovery {
namespace {

// 8 header bytes, then record type, count, two unexamined bytes, the MAC and any further bytes.
std::string datagram(std::initializer_list<int> fromOffset8, std::size_t padTo = 0)
{
    std::string bytes(8, '\x55');
    for (int b : fromOffset8)
        bytes += static_cast<char>(b);
    if (bytes.size() < padTo)
        bytes.resize(padTo, '\0');
    return bytes;
}

struct DecodeCase {
    const char* name;
    std::string bytes;
    std::optional<std::string> mac;
};

class MacTextOf : public testing::TestWithParam<DecodeCase> {};

TEST_P(MacTextOf, DecodesOrDrops)
{
    const auto mac = macTextIn(GetParam().bytes);
    EXPECT_EQ(mac ? std::optional<std::string>(mac->view()) : std::nullopt, GetParam().mac);
}

std::string shortForm(char b4, char b5)
{
    std::string bytes(182, '\x00');
    bytes[4] = b4;
    bytes[5] = b5;
    bytes[8] = '\x00';
    bytes[9] = '\x07'; // no record type 1 of its own: the rewrite supplies it
    return bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MacTextOf,
    testing::Values(
        DecodeCase{"record_type_one", datagram({0x00, 0x01, 0x00, 0x0C, 0, 0, 0x0A, 0x1B, 0x2C, 0x3D, 0x4E, 0x5F}), "0A:1B:2C:3D:4E:5F"},
        DecodeCase{"vendor_ffffff", datagram({0x00, 0x02, 0x00, 0x0C, 0, 0, 0xFF, 0xFF, 0xFF, 0x01, 0x02, 0x03}), "FF:FF:FF:01:02:03"},
        DecodeCase{"vendor_02c3d7", datagram({0x00, 0x02, 0x00, 0x0C, 0, 0, 0x02, 0xC3, 0xD7, 0xaa, 0xbb, 0xcc}), "02:C3:D7:AA:BB:CC"},
        DecodeCase{"other_vendor_dropped", datagram({0x00, 0x02, 0x00, 0x0C, 0, 0, 0x02, 0xC3, 0xD8, 0, 0, 0}), std::nullopt},
        DecodeCase{"count_zero_dropped", datagram({0x00, 0x01, 0x00, 0x00}, 20), std::nullopt},
        DecodeCase{"count_one_cannot_show_record_type", datagram({0x00, 0x01, 0x00, 0x01}, 20), std::nullopt},
        DecodeCase{"count_two_record_type_only", datagram({0x00, 0x01, 0x00, 0x02}, 20), ":::::"},
        DecodeCase{"count_eight_vendor_not_visible", datagram({0x00, 0x02, 0x00, 0x08, 0, 0, 0xFF, 0xFF, 0xFF, 0, 0, 0}), std::nullopt},
        DecodeCase{"count_nine_vendor_visible", datagram({0x00, 0x02, 0x00, 0x09, 0, 0, 0xFF, 0xFF, 0xFF, 0, 0, 0}), "FF:FF:FF:::"},
        DecodeCase{"count_ten_leaves_two_empty_pairs", datagram({0x00, 0x01, 0x00, 0x0A, 0, 0, 0x0A, 0x1B, 0x2C, 0x3D, 0x4E, 0x5F}), "0A:1B:2C:3D::"},
        DecodeCase{"count_above_twelve_changes_nothing", datagram({0x00, 0x01, 0x00, 0x10, 0, 0, 0x0A, 0x1B, 0x2C, 0x3D, 0x4E, 0x5F, 1, 2, 3, 4}), "0A:1B:2C:3D:4E:5F"},
        DecodeCase{"bytes_past_the_count_ignored", datagram({0x00, 0x01, 0x00, 0x0C, 0, 0, 0x0A, 0x1B, 0x2C, 0x3D, 0x4E, 0x5F}, 2048), "0A:1B:2C:3D:4E:5F"},
        DecodeCase{"short_form_rewritten", shortForm('\x12', '\x34'), "FF:FF:FF:00:12:34"},
        DecodeCase{"short_form_any_other_bytes", [] { auto b = shortForm('\xAB', '\xCD'); b.replace(6, 176, 176, '\xEE'); return b; }(), "FF:FF:FF:00:AB:CD"},
        DecodeCase{"length_181_is_not_short_form", std::string(181, '\x00'), std::nullopt},
        // Too short for what the count names: dropped, nothing read past the end.
        DecodeCase{"empty", "", std::nullopt},
        DecodeCase{"eleven_bytes", datagram({0x00, 0x01, 0x00}), std::nullopt},
        DecodeCase{"count_past_end", datagram({0x00, 0x01, 0x00, 0x0C, 0, 0, 0x0A, 0x1B, 0x2C, 0x3D, 0x4E}), std::nullopt},
        DecodeCase{"count_huge", datagram({0x00, 0x01, 0xFF, 0xFF}, 2048), std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

// Every prefix of a valid datagram is decoded from its own bytes only; a copy without spare
// capacity lets a sanitizer or valgrind see any read past the end.
TEST(MacTextOfPrefixes, NeverReadPastTheDatagram)
{
    const std::string full = datagram({0x00, 0x01, 0x00, 0x0C, 0, 0, 0x0A, 0x1B, 0x2C, 0x3D, 0x4E, 0x5F});
    for (std::size_t n = 0; n <= full.size(); ++n) {
        const auto mac = macTextIn(std::string_view(full.data(), n));
        EXPECT_EQ(mac.has_value(), n == full.size()) << "length " << n;
    }
}

} // namespace
} // namespace zqn::discovery
