#include "discovery/announcement.h"

#include <array>
#include <cstdint>

namespace zqn::discovery {

namespace {

constexpr std::size_t kCountOffset = 10;
constexpr std::size_t kHexStart = 8; // the count bytes from here make up the announcement's text
constexpr std::size_t kMacOffset = 14;
constexpr std::size_t kMacBytes = 6;

std::uint8_t byteAt(std::string_view bytes, std::size_t offset)
{
    return static_cast<std::uint8_t>(bytes[offset]);
}

// The 24-byte common form of a 182-byte datagram: record type 1, count 12, MAC FF FF FF 00 b4 b5.
std::array<char, 24> commonFormOfShort(std::string_view datagram)
{
    std::array<char, 24> form{};
    constexpr std::uint8_t fixed[18] = {0x08, 0x01, 0x00, 0x90, 0x00, 0x04, 0x00, 0x04, 0x00,
                                        0x01, 0x00, 0x0C, 0x00, 0x06, 0xFF, 0xFF, 0xFF, 0x00};
    for (std::size_t i = 0; i < 18; ++i)
        form[i] = static_cast<char>(fixed[i]);
    form[18] = datagram[4];
    form[19] = datagram[5];
    return form;
}

bool macStartsWith(std::string_view bytes, std::uint8_t a, std::uint8_t b, std::uint8_t c)
{
    return byteAt(bytes, kMacOffset) == a && byteAt(bytes, kMacOffset + 1) == b
           && byteAt(bytes, kMacOffset + 2) == c;
}

} // namespace

std::optional<MacText> macTextIn(std::string_view datagram)
{
    std::array<char, 24> converted{};
    std::string_view bytes = datagram;
    if (datagram.size() == kShortFormLength) {
        converted = commonFormOfShort(datagram);
        bytes = std::string_view(converted.data(), converted.size());
    }

    if (bytes.size() < kCountOffset + 2)
        return std::nullopt;
    const std::size_t count = byteAt(bytes, kCountOffset) * 256u + byteAt(bytes, kCountOffset + 1);
    if (bytes.size() < kHexStart + count)
        return std::nullopt;

    // Hex characters 1-4 are offsets 8-9; characters 13-18 are offsets 14-16 and exist from count 9.
    const bool recordTypeOne = count >= 2 && byteAt(bytes, 8) == 0x00 && byteAt(bytes, 9) == 0x01;
    const bool knownVendor = count >= 9
                             && (macStartsWith(bytes, 0xFF, 0xFF, 0xFF)
                                 || macStartsWith(bytes, 0x02, 0xC3, 0xD7));
    if (!recordTypeOne && !knownVendor)
        return std::nullopt;

    static constexpr char kHexDigits[] = "0123456789ABCDEF";
    MacText mac;
    for (std::size_t i = 0; i < kMacBytes; ++i) {
        if (i > 0)
            mac.chars[mac.size++] = ':';
        const std::size_t offset = kMacOffset + i;
        if (offset >= kHexStart + count)
            continue; // a pair beyond the hex text is empty; its ':' stays
        const std::uint8_t b = byteAt(bytes, offset);
        mac.chars[mac.size++] = kHexDigits[b >> 4];
        mac.chars[mac.size++] = kHexDigits[b & 0x0F];
    }
    return mac;
}

} // namespace zqn::discovery
