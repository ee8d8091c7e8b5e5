#pragma once

#include <cstddef>
#include <string_view>

// Code page 932 (Shift_JIS) byte rules. Texts stay bytes; nothing here converts them.
namespace zqn::text {

// First byte of a double-byte character.
constexpr bool isLeadByte(unsigned char b)
{
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

// The longest prefix of at most maxBytes that does not end inside a double-byte character.
std::size_t wholeCharacterPrefix(std::string_view text, std::size_t maxBytes);

// True when the needle occurs in the text starting at a character of its own (never at the
// second byte of a double-byte character), ASCII letters matching either case.
bool containsFoldingAscii(std::string_view text, std::string_view needle);

// What follows the last backslash or colon; a 0x5C that trails a lead byte is part of a character.
std::string_view fileNamePart(std::string_view path);

} // namespace zqn::text
