#include "text/line_list.h"

namespace zqn::text {

Lines splitLines(std::string_view bytes)
{
    Lines lines;
    std::size_t start = 0;
    const std::size_t size = bytes.size();
    for (std::size_t i = 0; i < size; ++i) {
        const char c = bytes[i];
        if (c != '\r' && c != '\n')
            continue;
        lines.emplace_back(bytes.substr(start, i - start));
        if (c == '\r' && i + 1 < size && bytes[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    if (start < size)
        lines.emplace_back(bytes.substr(start));
    return lines;
}

bool lastLineUnterminated(std::string_view bytes)
{
    return !bytes.empty() && bytes.back() != '\r' && bytes.back() != '\n';
}

void appendLines(std::string& out, const Lines& lines)
{
    std::size_t size = out.size();
    for (const auto& line : lines)
        size += line.size() + kLineBreak.size();
    out.reserve(size);
    for (const auto& line : lines) {
        out += line;
        out += kLineBreak;
    }
}

std::string joinLines(const Lines& lines)
{
    std::string out;
    appendLines(out, lines);
    return out;
}

} // namespace zqn::text
