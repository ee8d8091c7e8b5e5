#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

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

    // The four fields of a sighting, with no name.
    static DeviceLine headOf(const Sighting& sighting);

    // "mac,ip,date,time", then "," and the name when hasName.
    std::size_t size() const;
    char* writeTo(char* out) const;
    std::string text() const;

    // A device heard again: the line becomes the sighting's four fields followed by what it kept
    // from 14 bytes after its first "/" on (from byte 14 without one), at most 255 bytes. In a
    // line the monitor wrote that is the comma before the name and the name. Rewritten inside
    // the line's own buffer, so that nothing is allocated when it has room.
    static void renew(std::string& line, const Sighting& sighting);
};

} // namespace zqn::discovery
