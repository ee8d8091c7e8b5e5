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

} // namespace zqn::text
