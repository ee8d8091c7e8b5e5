#include "discovery/device_line.h"

namespace zqn::discovery {

namespace {

// Takes the text before the next comma into field; without a comma, field stays empty and the
// rest stays whole.
void takeField(std::string_view& rest, std::string_view& field)
{
    if (const std::size_t comma = rest.find(','); comma != std::string_view::npos) {
        field = rest.substr(0, comma);
        rest.remove_prefix(comma + 1);
    }
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

std::string DeviceLine::text() const
{
    std::string line(size(), '\0');
    writeTo(line.data());
    return line;
}

} // namespace zqn::discovery
