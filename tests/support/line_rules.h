#pragma once

// The rules for device lines and page templates as a reader of them would apply them, written
// apart from the code under test so that a wrong rule there is not copied here. Positions count
// from 1, as the rules do. Plain C++: the fuzz targets use these too.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zqn::rules {

// In code page 932 the bytes 81-9F and E0-FC begin a two-byte character.
inline bool beginsTwoByteCharacter(char c)
{
    const auto b = static_cast<unsigned char>(c);
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

// At most limit bytes of text: a text that fits stays whole; one that must be cut loses the
// character that would be split, reading characters from the text's first byte.
inline std::string_view atMostBytes(std::string_view text, std::size_t limit)
{
    if (text.size() <= limit)
        return text;
    std::size_t kept = 0;
    while (kept < limit) {
        const std::size_t width = beginsTwoByteCharacter(text[kept]) ? 2 : 1;
        if (kept + width > limit)
            break;
        kept += width;
    }
    return text.substr(0, kept);
}

// Reading a line yields at most its first 4096 bytes.
inline std::string_view asRead(std::string_view line)
{
    return line.substr(0, 4096);
}

// A device heard again keeps of its old line the part from position k + 15 on, where k is the
// position of the line's first "/" (0 when it has none): at most 255 bytes of it.
inline std::string_view keptTail(std::string_view line)
{
    std::size_t k = 0;
    for (std::size_t position = 1; position <= line.size() && k == 0; ++position) {
        if (line[position - 1] == '/')
            k = position;
    }
    const std::size_t from = k + 15;
    if (from > line.size())
        return {};
    return atMostBytes(line.substr(from - 1), 255);
}

// The line a sighting leaves: MAC, IP, date and time, then what the old line keeps.
inline std::string renewed(std::string_view oldLine, std::string_view mac, std::string_view ip,
                           std::string_view date, std::string_view time)
{
    std::string line;
    line.append(mac).append(",").append(ip).append(",").append(date).append(",").append(time);
    return line.append(keptTail(oldLine));
}

// The fields the page shows for a line: MAC before the first comma; of the rest, at most 255
// bytes are split, IP and date each before a comma of their own (empty without one), then time
// and, after one more comma, the name with any commas it holds.
struct Fields {
    std::string_view mac, ip, date, time, name;
    bool hasName = false;
};

inline std::optional<Fields> fieldsOf(std::string_view line)
{
    line = asRead(line);
    const std::size_t firstComma = line.find(',');
    if (firstComma == std::string_view::npos)
        return std::nullopt;
    Fields fields;
    fields.mac = line.substr(0, firstComma);
    std::string_view rest = atMostBytes(line.substr(firstComma + 1), 255);
    for (std::string_view* field : {&fields.ip, &fields.date}) {
        if (const std::size_t comma = rest.find(','); comma != std::string_view::npos) {
            *field = rest.substr(0, comma);
            rest.remove_prefix(comma + 1);
        }
    }
    const std::size_t comma = rest.find(',');
    fields.hasName = comma != std::string_view::npos;
    fields.time = rest.substr(0, comma);
    fields.name = fields.hasName ? rest.substr(comma + 1) : std::string_view();
    return fields;
}

// A template filled and split: in each line as read, the first "%REFRESH%", then the first
// "%REFHTML%", then the first "%MESS01%" are replaced, each in what the step before left. A
// filled line that is exactly "%LISTDATA%" goes nowhere; lines before the first such line make
// the head, the others the tail, each line followed by CR LF.
struct Filled {
    std::string head, tail;
};

inline Filled filled(const std::vector<std::string>& pageTemplate, int saveInterval, std::string_view pageFileName,
                     std::string_view heading)
{
    const std::string values[] = {std::to_string(saveInterval), std::string(pageFileName), std::string(heading)};
    const std::string_view placeholders[] = {"%REFRESH%", "%REFHTML%", "%MESS01%"};
    Filled result;
    bool split = false;
    for (const std::string& templateLine : pageTemplate) {
        std::string line(asRead(templateLine));
        for (int step = 0; step < 3; ++step) {
            const std::size_t at = line.find(placeholders[step]);
            if (at != std::string::npos)
                line = line.substr(0, at) + values[step] + line.substr(at + placeholders[step].size());
        }
        if (line == "%LISTDATA%") {
            split = true;
        } else {
            (split ? result.tail : result.head) += line + "\r\n";
        }
    }
    return result;
}

} // namespace zqn::rules
