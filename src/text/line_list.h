#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace zqn::text {

using Lines = std::vector<std::string>;

inline constexpr std::string_view kLineBreak = "\r\n";

// A line is read back with at most this many bytes; the rest of a longer line is dropped.
inline constexpr std::size_t kLineReadLimit = 4096;

// Splits at every CR LF, lone CR and lone LF. A break at the very end adds no empty line.
Lines splitLines(std::string_view bytes);

// True when the text's last line carries no line break (an empty text has no last line).
bool lastLineUnterminated(std::string_view bytes);

// Each line followed by CR LF.
std::string joinLines(const Lines& lines);
void appendLines(std::string& out, const Lines& lines);

inline std::string_view readableLine(std::string_view line)
{
    return line.substr(0, kLineReadLimit);
}

} // namespace zqn::text
