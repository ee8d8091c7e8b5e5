// Input: a stream of datagrams, each a two-byte big-endian length followed by that many bytes
// (fewer if the input ends first). Every datagram is decoded; accepted ones are recorded.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "discovery/announcement.h"
#include "discovery/device_list.h"
#include "fuzz_check.h"
#include "record_oracle.h"

namespace {

using zqn::discovery::kMaxDatagramLength;
using zqn::discovery::kShortFormLength;

std::string hexText(std::string_view bytes)
{
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string hex;
    hex.reserve(bytes.size() * 2);
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        hex += digits[b >> 4];
        hex += digits[b & 0x0F];
    }
    return hex;
}

// The decoding as the announcement is described, worked on the hex text rather than on bytes,
// so that it shares no shortcut with the decoder it checks. Datagrams too short for their count
// are dropped.
std::optional<std::string> describedMacText(std::string_view datagram)
{
    std::string buffer(datagram);
    if (datagram.size() == kShortFormLength) {
        buffer = std::string("\x08\x01\x00\x90\x00\x04\x00\x04\x00\x01\x00\x0C\x00\x06\xFF\xFF\xFF\x00", 18);
        buffer += datagram[4];
        buffer += datagram[5];
        buffer.append(4, '\0');
    }
    if (buffer.size() < 12)
        return std::nullopt;
    const std::size_t count = static_cast<unsigned char>(buffer[10]) * 256u + static_cast<unsigned char>(buffer[11]);
    if (buffer.size() < 8 + count)
        return std::nullopt;
    const std::string hex = hexText(std::string_view(buffer).substr(8, count));
    const std::string_view vendor = std::string_view(hex).substr(std::min<std::size_t>(12, hex.size()), 6);
    if (hex.substr(0, 4) != "0001" && vendor != "FFFFFF" && vendor != "02C3D7")
        return std::nullopt;
    std::string mac;
    for (std::size_t pair = 0; pair < 6; ++pair) {
        if (pair > 0)
            mac += ':';
        if (12 + 2 * pair < hex.size())
            mac += hex.substr(12 + 2 * pair, 2);
    }
    return mac;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // Every sighting goes to a list with the usual cap and to one that a few devices fill.
    struct Recorded {
        zqn::discovery::DeviceList list;
        zqn::fuzz::RecordOracle oracle;
    } lists[2];
    lists[1].list.setCapacity(3);

    std::size_t at = 0;
    std::size_t number = 0;
    while (at + 2 <= size) {
        std::size_t length = (std::size_t{data[at]} << 8 | data[at + 1]) % (kMaxDatagramLength + 1);
        at += 2;
        length = std::min(length, size - at);
        // Exactly sized on the heap, so that reading one byte past the datagram is an ASan report.
        const std::unique_ptr<char[]> buffer(new char[length]);
        std::copy(data + at, data + at + length, buffer.get());
        at += length;
        const std::string_view datagram(buffer.get(), length);

        const auto macText = zqn::discovery::macTextIn(datagram);
        const std::optional<std::string> mac =
            macText ? std::optional<std::string>(macText->view()) : std::optional<std::string>();
        FUZZ_CHECK(mac == describedMacText(datagram));
        if (!mac)
            continue;
        FUZZ_CHECK(zqn::fuzz::isMacLike(*mac));

        // The time moves on per datagram so that an update visibly renews the line.
        char time[9];
        std::snprintf(time, sizeof time, "09:%02zu:%02zu", number / 60 % 60, number % 60);
        ++number;
        for (auto& [list, oracle] : lists)
            oracle.record(list, {*mac, "192.168.1.20", "2024/05/01", time}, true);
    }
    for (const auto& [list, oracle] : lists) {
        oracle.checkSame(list);
        zqn::fuzz::checkRoundTrip(list);
    }
    return 0;
}
