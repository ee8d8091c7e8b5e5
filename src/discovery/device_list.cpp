#include "discovery/device_list.h"

#include <functional>

#include "text/cp932.h"

namespace zqn::discovery {

namespace {

constexpr std::size_t kKeyLength = 17;
constexpr std::size_t kKeptTailLimit = 255;

std::string_view keyOf(std::string_view line)
{
    return line.substr(0, kKeyLength);
}

std::uint32_t hashOf(std::string_view key)
{
    const std::size_t h = std::hash<std::string_view>{}(key);
    return static_cast<std::uint32_t>(h ^ (h >> 32));
}

// In a line the monitor wrote, the first "/" follows the year and 14 bytes later stands the
// "," before the name; from there on the line is kept. Without a "/" the tail starts at byte 14.
struct TailSpan {
    std::size_t start = 0;
    std::size_t length = 0;
};

TailSpan keptTail(std::string_view line)
{
    const std::size_t slash = line.find('/');
    const std::size_t start = slash == std::string_view::npos ? 14 : slash + 15;
    if (start >= line.size())
        return {line.size(), 0};
    return {start, text::wholeCharacterPrefix(line.substr(start), kKeptTailLimit)};
}

} // namespace

std::optional<std::size_t> DeviceList::FirstLineIndex::find(std::string_view key, const text::Lines& lines) const
{
    if (slots_.empty())
        return std::nullopt;
    const std::uint32_t hash = hashOf(key);
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t pos = hash & mask;; pos = (pos + 1) & mask) {
        const std::uint64_t slot = slots_[pos];
        if (slot == 0)
            return std::nullopt;
        if (static_cast<std::uint32_t>(slot >> 32) != hash)
            continue;
        const std::size_t index = static_cast<std::uint32_t>(slot) - 1;
        if (keyOf(lines[index]) == key)
            return index;
    }
}

void DeviceList::FirstLineIndex::add(std::size_t index, const text::Lines& lines)
{
    if ((used_ + 1) * 2 > slots_.size())
        grow();
    const std::string_view key = keyOf(lines[index]);
    const std::uint32_t hash = hashOf(key);
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t pos = hash & mask;; pos = (pos + 1) & mask) {
        const std::uint64_t slot = slots_[pos];
        if (slot == 0) {
            slots_[pos] = (std::uint64_t{hash} << 32) | static_cast<std::uint32_t>(index + 1);
            ++used_;
            return;
        }
        if (static_cast<std::uint32_t>(slot >> 32) == hash
            && keyOf(lines[static_cast<std::uint32_t>(slot) - 1]) == key)
            return;
    }
}

void DeviceList::FirstLineIndex::grow()
{
    std::vector<std::uint64_t> old = std::move(slots_);
    slots_.assign(old.empty() ? 64 : old.size() * 2, 0);
    used_ = 0;
    const std::size_t mask = slots_.size() - 1;
    for (const std::uint64_t slot : old) {
        if (slot == 0)
            continue;
        std::size_t pos = (slot >> 32) & mask;
        while (slots_[pos] != 0)
            pos = (pos + 1) & mask;
        slots_[pos] = slot;
        ++used_;
    }
}

void DeviceList::FirstLineIndex::rebuild(const text::Lines& lines)
{
    clear();
    for (std::size_t i = 0; i < lines.size(); ++i)
        add(i, lines);
}

void DeviceList::FirstLineIndex::clear()
{
    slots_.clear();
    used_ = 0;
}

DeviceList::RecordResult DeviceList::record(const Sighting& sighting)
{
    const std::size_t headSize = sighting.mac.size() + sighting.ip.size() + sighting.date.size()
                                 + sighting.time.size() + 3;
    const auto writeHead = [&](char* out) {
        for (const std::string* field : {&sighting.mac, &sighting.ip, &sighting.date}) {
            out = std::copy(field->begin(), field->end(), out);
            *out++ = ',';
        }
        std::copy(sighting.time.begin(), sighting.time.end(), out);
    };

    if (const auto found = firstLineOfKey_.find(sighting.mac, lines_)) {
        std::string& line = lines_[*found];
        // Rewritten inside the line's own buffer: no allocation for a device heard again.
        const TailSpan tail = keptTail(line);
        line.resize(tail.start + tail.length);
        line.replace(0, tail.start, headSize, '\0');
        writeHead(line.data());
        if (keyOf(line) != sighting.mac)
            firstLineOfKey_.rebuild(lines_); // only a MAC text under 17 bytes changes a key
        return {*found, false};
    }

    constexpr std::string_view kNewName = ",noname";
    std::string line(headSize + kNewName.size(), '\0');
    writeHead(line.data());
    line.replace(headSize, kNewName.size(), kNewName);
    lines_.push_back(std::move(line));
    firstLineOfKey_.add(lines_.size() - 1, lines_);
    return {lines_.size() - 1, true};
}

void DeviceList::clear()
{
    lines_.clear();
    firstLineOfKey_.clear();
    lastLineUnterminated_ = false;
}

void DeviceList::load(std::string_view bytes)
{
    text::Lines lines = text::splitLines(bytes);
    clear();
    lines_ = std::move(lines);
    lastLineUnterminated_ = text::lastLineUnterminated(bytes);
    firstLineOfKey_.rebuild(lines_);
}

std::string DeviceList::text() const
{
    std::size_t size = 0;
    for (const auto& line : lines_)
        size += line.size() + text::kLineBreak.size();
    std::string out;
    out.reserve(size);
    for (std::size_t i = 0; i < lines_.size(); ++i)
        out.append(lines_[i]).append(lineBreakAfter(i));
    return out;
}

} // namespace zqn::discovery
