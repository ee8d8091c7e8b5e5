#pragma once

#include <algorithm>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "text/cp932.h"

namespace zqn::discovery {

// One accepted announcement, as the device list records it.
struct Sighting {
    std::string mac;
    std::string ip;
    std::string date; // "yyyy/mm/dd"
    std::string time; // "hh:nn:ss"
};

// A name is kept to this many bytes, whole characters.
inline constexpr std::size_t kNameLimit = 254;
inline constexpr std::string_view kNewDeviceName = "noname";

// A device line: MAC, IP, date, time and name, separated by commas, without quoting, so a name
// may hold commas. The fields are views into a line or into the texts they were made from.
struct DeviceLine {
    std::string_view mac;
    std::string_view ip;
    std::string_view date;
    std::string_view time;
    std::string_view name;
    bool hasName = false; // the line holds a comma after the time field

    // Only this many bytes after the first comma are split into fields; the rest of a longer
    // line is not shown.
    static constexpr std::size_t kSplitBytes = 255;

    // The fields as the list page shows them; nothing for a line without a comma. Only the first
    // 255 bytes after the first comma are split, cut at a whole character; a field whose comma
    // is missing stays empty and leaves the rest to the next field, the time field last.
    static std::optional<DeviceLine> parse(std::string_view line);
    // The IP field as parse gives it (empty without one), at the cost of two searches.
    static std::string_view ipOf(std::string_view line);

    // The four fields of a sighting, with no name.
    static DeviceLine headOf(const Sighting& sighting);

    // "mac,ip,date,time", then "," and the name when hasName.
    std::size_t size() const
    {
        return mac.size() + ip.size() + date.size() + time.size() + 3 + (hasName ? 1 + name.size() : 0);
    }
    char* writeTo(char* out) const
    {
        out = put(put(put(put(out, mac), ','), ip), ',');
        out = put(put(put(out, date), ','), time);
        return hasName ? put(put(out, ','), name) : out;
    }
    std::string text() const;

    // A device heard again: the line becomes the sighting's four fields followed by what it kept
    // from 14 bytes after its first "/" on (from byte 14 without one), at most 255 bytes. In a
    // line the monitor wrote that is the comma before the name and the name. Rewritten inside
    // the line's own buffer, so that nothing is allocated when it has room.
    static void renew(std::string& line, const Sighting& sighting);

private:
    static char* put(char* out, std::string_view text) { return std::copy(text.begin(), text.end(), out); }
    static char* put(char* out, char c)
    {
        *out = c;
        return out + 1;
    }
};

// Defined here, as they lie on the path of every datagram from a device heard again.

namespace detail {

constexpr std::size_t kKeptTailLimit = 255;

struct TailSpan {
    std::size_t start = 0;
    std::size_t length = 0;
};

// In a line the monitor wrote, the first "/" follows the year and 14 bytes later stands the
// "," before the name.
inline TailSpan keptTail(std::string_view line)
{
    const std::size_t slash = line.find('/');
    const std::size_t start = slash == std::string_view::npos ? 14 : slash + 15;
    if (start >= line.size())
        return {line.size(), 0};
    return {start, text::wholeCharacterPrefix(line.substr(start), kKeptTailLimit)};
}

} // namespace detail

inline std::string_view DeviceLine::ipOf(std::string_view line)
{
    const std::size_t firstComma = line.find(',');
    if (firstComma == std::string_view::npos)
        return {};
    const std::string_view rest = line.substr(firstComma + 1);
    // A comma among the first 255 bytes always survives the whole-character cut: it is no lead byte.
    const std::size_t comma = rest.substr(0, kSplitBytes).find(',');
    return comma == std::string_view::npos ? std::string_view() : rest.substr(0, comma);
}

inline DeviceLine DeviceLine::headOf(const Sighting& sighting)
{
    return {sighting.mac, sighting.ip, sighting.date, sighting.time, {}, false};
}

inline void DeviceLine::renew(std::string& line, const Sighting& sighting)
{
    const DeviceLine head = headOf(sighting);
    const detail::TailSpan tail = detail::keptTail(line);
    line.resize(tail.start + tail.length);
    line.replace(0, tail.start, head.size(), '\0');
    head.writeTo(line.data());
}

} // namespace zqn::discovery
