#include "discovery/device_line.h"

#include <algorithm>

#include "text/cp932.h"

namespace zqn::discovery {

namespace {

constexpr std::size_t kKeptTailLimit = 255;

// Takes the text before the next comma into field; without a comma, field stays empty and the
// rest stays whole.
void takeField(std::string_view& rest, std::string_view& field)
{
    if (const std::size_t comma = rest.find(','); comma != std::string_view::npos) {
        field = rest.substr(0, comma);
        rest.remove_prefix(comma + 1);
    }
}

struct TailSpan {
    std::size_t start = 0;
    std::size_t length = 0;
};

// In a line the monitor wrote, the first "/" follows the year and 14 bytes later stands the
// "," before the name.
TailSpan keptTail(std::string_view line)
{
    const std::size_t slash = line.find('/');
    const std::size_t start = slash == std::string_view::npos ? 14 : slash + 15;
    if (start >= line.size())
        return {line.size(), 0};
    return {start, text::wholeCharacterPrefix(line.substr(start), kKeptTailLimit)};
}

char* put(char* out, std::string_view text)
{
    return std::copy(text.begin(), text.end(), out);
}

} // namespace

std::optional<DeviceLine> DeviceLine::parse(std::string_view line)
{
    const std::size_t firstComma = line.find(',');
    if (firstComma == std::string_view::npos)
        return std::nullopt;
    DeviceLine fields;
    fields.mac = line.substr(0, firstComma);
    std::string_view rest = line.substr(firstComma + 1);
    // Cut at a whole character so that a name never ends in half a double-byte character.
    rest = rest.substr(0, text::wholeCharacterPrefix(rest, kSplitBytes));
    takeField(rest, fields.ip);
    takeField(rest, fields.date);
    if (const std::size_t comma = rest.find(','); comma != std::string_view::npos) {
        fields.time = rest.substr(0, comma);
        fields.name = rest.substr(comma + 1);
        fields.hasName = true;
    } else {
        fields.time = rest;
    }
    return fields;
}

DeviceLine DeviceLine::headOf(const Sighting& sighting)
{
    return {sighting.mac, sighting.ip, sighting.date, sighting.time, {}, false};
}

std::size_t DeviceLine::size() const
{
    return mac.size() + ip.size() + date.size() + time.size() + 3 + (hasName ? 1 + name.size() : 0);
}

char* DeviceLine::writeTo(char* out) const
{
    for (const std::string_view field : {mac, ip, date}) {
        out = put(out, field);
        *out++ = ',';
    }
    out = put(out, time);
    if (hasName) {
        *out++ = ',';
        out = put(out, name);
    }
    return out;
}

std::string DeviceLine::text() const
{
    std::string line(size(), '\0');
    writeTo(line.data());
    return line;
}

void DeviceLine::renew(std::string& line, const Sighting& sighting)
{
    const DeviceLine head = headOf(sighting);
    const TailSpan tail = keptTail(line);
    line.resize(tail.start + tail.length);
    line.replace(0, tail.start, head.size(), '\0');
    head.writeTo(line.data());
}

} // namespace zqn::discovery
