#include "text/cp932.h"

namespace zqn::text {

std::size_t wholeCharacterPrefix(std::string_view text, std::size_t maxBytes)
{
    if (text.size() <= maxBytes)
        return text.size();
    std::size_t i = 0;
    while (i < maxBytes) {
        const std::size_t width = isLeadByte(static_cast<unsigned char>(text[i])) ? 2 : 1;
        if (i + width > maxBytes)
            break;
        i += width;
    }
    return i;
}

std::string_view fileNamePart(std::string_view path)
{
    std::size_t nameStart = 0;
    for (std::size_t i = 0; i < path.size(); ++i) {
        const auto b = static_cast<unsigned char>(path[i]);
        if (isLeadByte(b)) {
            ++i; // the trail byte may be 0x5C; it is not a separator
            continue;
        }
        if (b == '\\' || b == ':')
            nameStart = i + 1;
    }
    return path.substr(nameStart < path.size() ? nameStart : path.size());
}

namespace {

constexpr char foldedAscii(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

} // namespace

bool containsFoldingAscii(std::string_view text, std::string_view needle)
{
    if (needle.empty())
        return true;
    const char first = foldedAscii(needle.front());
    for (std::size_t i = 0; i + needle.size() <= text.size();
         i += isLeadByte(static_cast<unsigned char>(text[i])) ? 2 : 1) {
        if (foldedAscii(text[i]) != first)
            continue;
        // Both sides start at a character here, so they split into characters alike as long as
        // they agree: a trail byte, which may look like a letter, is compared as it is.
        std::size_t k = 0;
        bool trail = false;
        for (; k < needle.size(); ++k) {
            const char a = text[i + k];
            const char b = needle[k];
            if (trail ? a != b : foldedAscii(a) != foldedAscii(b))
                break;
            trail = !trail && isLeadByte(static_cast<unsigned char>(b));
        }
        if (k == needle.size())
            return true;
    }
    return false;
}

} // namespace zqn::text
