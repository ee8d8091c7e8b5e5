#include "settings/settings.h"

#include "text/line_list.h"
#include "text/messages.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <new>
#include <string>
#include <vector>

// Code page 932 texts must pass through as bytes: no character conversion at all.
#define SI_NO_CONVERSION
// Debian's header keeps the template bodies behind this switch; this file is their only user.
#define SI_IMPLEMENTATION
#include <SimpleIni.h>

namespace zqn::settings {

namespace {

constexpr const char* kSystem = "SYSTEM";
constexpr const char* kData = "DATA";

bool isAsciiDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

bool isCommentStart(char c)
{
    return c == ';' || c == '#';
}

// The parser stops at the first NUL byte; treating the file the same way everywhere keeps the
// re-added comments consistent with what was parsed.
std::string_view upToFirstNul(std::string_view bytes)
{
    return bytes.substr(0, bytes.find('\0'));
}

// The profile as the parser should see it. Leading blank lines and lines the parser cannot read
// go, so that a first comment stays the file's own comment across saves. A section line without its "]" is closed: left open, the
// parser would take the next key into the section's name and every save would add a line.
std::string parsableProfile(std::string_view bytes)
{
    bytes = upToFirstNul(bytes);
    std::string out;
    out.reserve(bytes.size() + 16);
    constexpr std::string_view utf8Signature = SI_UTF8_SIGNATURE;
    if (bytes.starts_with(utf8Signature)) {
        out.append(utf8Signature);
        bytes.remove_prefix(utf8Signature.size());
    }
    // Split as the parser does: a lone CR ends a line too.
    bool leading = true;
    for (const std::string& line : text::splitLines(bytes)) {
        const std::size_t first = line.find_first_not_of(" \t");
        const bool blank = first == std::string::npos;
        // Neither section, named entry nor comment: nothing can read it, and a save would move it.
        const bool unreadable = !blank && line[first] != '[' && !isCommentStart(line[first])
                                && (line[first] == '=' || line.find('=') == std::string::npos);
        if (unreadable || (leading && blank))
            continue;
        leading = false;
        if (!blank && line[first] == '[' && line.find(']', first) == std::string::npos) {
            // Without a name it would close into "[]", the file's unnamed top, which saves differently.
            if (line.find_first_not_of(" \t", first + 1) != std::string::npos)
                out.append(line).append("]").append(text::kLineBreak);
            continue;
        }
        out.append(line).append(text::kLineBreak);
    }
    return out;
}

void throwIfFailed(SI_Error result)
{
    // With no character conversion the only failure left is running out of memory.
    if (result < 0)
        throw std::bad_alloc();
}

// Profile files match section and key names without regard to case, and a repeated key reads as
// its first value; multi-key mode also keeps the repeats of other keys when the file is written.
void loadProfile(CSimpleIniA& profile, std::string_view bytes)
{
    profile.SetMultiKey(true);
    profile.SetMultiLine(false);
    profile.SetQuotes(false);
    profile.SetSpaces(false);
    const std::string parsable = parsableProfile(bytes);
    throwIfFailed(profile.LoadData(parsable.data(), parsable.size()));
}

int readInteger(const CSimpleIniA& profile, const char* section, const char* key, int fallback)
{
    const char* value = profile.GetValue(section, key, nullptr);
    return value ? parseDecimal(value).value_or(fallback) : fallback;
}

bool readBoolean(const CSimpleIniA& profile, const char* section, const char* key, bool fallback)
{
    return readInteger(profile, section, key, fallback ? 1 : 0) != 0;
}

std::string readText(const CSimpleIniA& profile, const char* section, const char* key,
                     const std::string& fallback)
{
    return profile.GetValue(section, key, fallback.c_str());
}

bool hasKey(const CSimpleIniA& profile, const char* section, const char* key)
{
    return profile.GetValue(section, key, nullptr) != nullptr;
}

void writeValue(CSimpleIniA& profile, const char* section, const char* key, std::string_view value)
{
    // A line break inside a value would start a stray line; only the first line can be read back.
    const std::string firstLine(value.substr(0, value.find_first_of("\r\n")));
    throwIfFailed(profile.SetValue(section, key, firstLine.c_str(), nullptr, true));
}

void writeInteger(CSimpleIniA& profile, const char* section, const char* key, int value)
{
    writeValue(profile, section, key, std::to_string(value));
}

void writeBoolean(CSimpleIniA& profile, const char* section, const char* key, bool value)
{
    writeValue(profile, section, key, value ? "1" : "0");
}

bool isSectionLine(std::string_view trimmed)
{
    return !trimmed.empty() && trimmed.front() == '[' && trimmed.find(']') != std::string_view::npos;
}

bool isKeyLine(std::string_view trimmed)
{
    const auto equals = trimmed.find('=');
    return !trimmed.empty() && trimmed.front() != '[' && !isCommentStart(trimmed.front())
           && equals != std::string_view::npos && equals > 0;
}

std::string_view withoutLeadingBlanks(std::string_view line)
{
    const auto first = std::find_if_not(line.begin(), line.end(), isBlank);
    return line.substr(static_cast<std::size_t>(first - line.begin()));
}

// The parser ties a comment to the section or key after it, so comments after the last one are
// dropped, unless they open the file (they are then its leading comment, which is kept).
text::Lines commentsAfterLastEntry(std::string_view bytes)
{
    bytes = upToFirstNul(bytes);
    constexpr std::string_view utf8Signature = SI_UTF8_SIGNATURE;
    if (bytes.starts_with(utf8Signature))
        bytes.remove_prefix(utf8Signature.size());
    const text::Lines lines = text::splitLines(bytes);

    std::size_t leadingCommentEnd = 0;
    while (leadingCommentEnd < lines.size() && !lines[leadingCommentEnd].empty()
           && isCommentStart(lines[leadingCommentEnd].front()))
        ++leadingCommentEnd;

    std::size_t afterLastEntry = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const auto trimmed = withoutLeadingBlanks(lines[i]);
        if (isSectionLine(trimmed) || isKeyLine(trimmed))
            afterLastEntry = i + 1;
    }

    text::Lines comments;
    for (std::size_t i = std::max(afterLastEntry, leadingCommentEnd); i < lines.size(); ++i) {
        const auto trimmed = withoutLeadingBlanks(lines[i]);
        if (trimmed.empty())
            comments.emplace_back();
        else if (isCommentStart(trimmed.front()))
            comments.emplace_back(trimmed);
    }
    return comments;
}

// The writer puts two empty lines between sections and may start with one; a single empty line
// between blocks reads the same and keeps the file steady from one save to the next.
text::Lines withSingleEmptyLines(const text::Lines& lines)
{
    text::Lines kept;
    for (const auto& line : lines) {
        if (line.empty() && (kept.empty() || kept.back().empty()))
            continue;
        kept.push_back(line);
    }
    while (!kept.empty() && kept.back().empty())
        kept.pop_back();
    return kept;
}

bool isAllBlankLines(const text::Lines& lines)
{
    return std::all_of(lines.begin(), lines.end(), [](const std::string& line) { return line.empty(); });
}

} // namespace

std::optional<int> parseDecimal(std::string_view text)
{
    std::string_view digits = text;
    if (!digits.empty() && (digits.front() == '+' || digits.front() == '-'))
        digits.remove_prefix(1);
    if (digits.empty() || !std::all_of(digits.begin(), digits.end(), isAsciiDigit))
        return std::nullopt;
    // from_chars takes a minus sign but no plus sign.
    const std::string_view number = text.front() == '+' ? digits : text;
    int value = 0;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (error != std::errc{} || end != number.data() + number.size())
        return std::nullopt;
    return value;
}

WebAddress parseWebAddress(std::string_view value)
{
    const auto bad = [](std::string problem) { return WebAddress{WebAddress::Kind::bad, {}, 0, std::move(problem)}; };
    std::string_view host;
    std::string_view port = value;
    if (value.starts_with('[')) {
        const auto close = value.find(']');
        if (close == std::string_view::npos || value.substr(close + 1, 1) != ":")
            return bad(std::string(text::messages::kWebBracketsNeedPort));
        host = value.substr(1, close - 1);
        port = value.substr(close + 2);
    } else if (const auto colon = value.rfind(':'); colon != std::string_view::npos) {
        host = value.substr(0, colon);
        port = value.substr(colon + 1);
        // An IPv6 address without brackets cannot be told from its port.
        if (host.find(':') != std::string_view::npos)
            return bad(std::string(text::messages::kWebNeedsBrackets));
    }
    if (value.empty() || value == "0")
        return {};
    const bool digitsOnly = !port.empty() && std::all_of(port.begin(), port.end(), isAsciiDigit);
    const auto number = digitsOnly ? parseDecimal(port) : std::nullopt;
    if (!number || *number < 1 || *number > 0xFFFF)
        return bad(std::string(text::messages::kWebPortOutOfRange));
    if (host.empty() && port.data() != value.data())
        return bad(std::string(text::messages::kWebHostEmpty));
    return {WebAddress::Kind::listen, std::string(host), *number, {}};
}

Settings parseSettings(std::string_view iniBytes)
{
    CSimpleIniA profile;
    loadProfile(profile, iniBytes);

    const Settings defaults;
    Settings settings;
    settings.autoStart = readBoolean(profile, kSystem, "AUTO", defaults.autoStart);
    settings.startHidden = readBoolean(profile, kSystem, "WINDOW", defaults.startHidden);
    settings.udpPort = readInteger(profile, kSystem, "PORT", defaults.udpPort);
    settings.httpPort = readInteger(profile, kSystem, "HTTPPORT", defaults.httpPort);
    settings.saveInterval = readInteger(profile, kSystem, "LTIME", defaults.saveInterval);
    settings.csvPath = readText(profile, kData, "CSV", defaults.csvPath);
    settings.htmlPath = readText(profile, kData, "HTML", defaults.htmlPath);
    settings.heading = readText(profile, kData, "MESS1", defaults.heading);
    settings.notifyNewDevices = readBoolean(profile, kSystem, "NOTIFY", defaults.notifyNewDevices);
    const int maxDevices = readInteger(profile, kSystem, "MAXDEV", defaults.maxDevices);
    settings.maxDevices =
        maxDevices >= kFewestMaxDevices && maxDevices <= kMostMaxDevices ? maxDevices : defaults.maxDevices;
    settings.web = readText(profile, kSystem, "WEB", defaults.web);
    return settings;
}

std::string writeSettings(std::string_view existingIniBytes, const Settings& settings)
{
    const std::string existing = parsableProfile(existingIniBytes);
    CSimpleIniA profile;
    loadProfile(profile, existing);

    writeBoolean(profile, kSystem, "AUTO", settings.autoStart);
    writeBoolean(profile, kSystem, "WINDOW", settings.startHidden);
    writeInteger(profile, kSystem, "PORT", settings.udpPort);
    // Written under the key it is read from too, so that a port set in the panel survives a restart.
    writeInteger(profile, kSystem, "HTTPPORT", settings.httpPort);
    writeInteger(profile, kSystem, "HTMLPORT", settings.httpPort);
    writeInteger(profile, kSystem, "LTIME", settings.saveInterval);
    if (settings.notifyNewDevices || hasKey(profile, kSystem, "NOTIFY"))
        writeBoolean(profile, kSystem, "NOTIFY", settings.notifyNewDevices);
    if (hasKey(profile, kSystem, "MAXDEV"))
        writeInteger(profile, kSystem, "MAXDEV", settings.maxDevices);
    if (hasKey(profile, kSystem, "WEB"))
        writeValue(profile, kSystem, "WEB", settings.web);
    writeValue(profile, kData, "CSV", settings.csvPath);
    writeValue(profile, kData, "HTML", settings.htmlPath);
    writeValue(profile, kData, "MESS1", settings.heading);

    // Only a signature the file already had is written back: the parser dropped it on loading.
    std::string saved;
    throwIfFailed(profile.Save(saved, true));
    constexpr std::string_view utf8Signature = SI_UTF8_SIGNATURE;
    std::string bytes;
    if (saved.starts_with(utf8Signature)) {
        bytes = utf8Signature;
        saved.erase(0, utf8Signature.size());
    }

    text::Lines lines = text::splitLines(saved);
    const text::Lines trailingComments = commentsAfterLastEntry(existing);
    if (!isAllBlankLines(trailingComments)) {
        lines.emplace_back();
        lines.insert(lines.end(), trailingComments.begin(), trailingComments.end());
    }
    text::appendLines(bytes, withSingleEmptyLines(lines));
    return bytes;
}

} // namespace zqn::settings
