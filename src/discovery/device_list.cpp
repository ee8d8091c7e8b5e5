#include "discovery/device_list.h"

#include <cstring>

#include "text/cp932.h"

namespace zqn::discovery {

namespace {

constexpr std::size_t kKeyLength = 17;

std::string_view keyOf(std::string_view line)
{
    return line.substr(0, kKeyLength);
}

std::uint64_t mixed(std::uint64_t h)
{
    h ^= h >> 33;
    h *= 0xFF51AFD7ED558CCDull;
    h ^= h >> 33;
    h *= 0xC4CEB9FE1A85EC53ull;
    return h ^ (h >> 33);
}

// Inline and in whole words: a key is at most 17 bytes, and this runs for every datagram.
std::uint32_t hashOf(std::string_view key)
{
    std::uint64_t h = key.size();
    std::size_t at = 0;
    for (; at + 8 <= key.size(); at += 8) {
        std::uint64_t word = 0;
        std::memcpy(&word, key.data() + at, 8);
        h = mixed(h ^ word);
    }
    std::uint64_t tail = 0;
    std::memcpy(&tail, key.data() + at, key.size() - at);
    h = mixed(h ^ tail);
    return static_cast<std::uint32_t>(h ^ (h >> 32));
}

} // namespace

DeviceList::FirstLineIndex::Probe DeviceList::FirstLineIndex::probe(std::string_view key,
                                                                   const text::Lines& lines) const
{
    Probe probe{std::nullopt, 0, hashOf(key)};
    if (slots_.empty())
        return probe;
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t pos = probe.hash & mask;; pos = (pos + 1) & mask) {
        const std::uint64_t slot = slots_[pos];
        if (slot == 0) {
            probe.freeSlot = pos;
            return probe;
        }
        if (static_cast<std::uint32_t>(slot >> 32) != probe.hash)
            continue;
        const std::size_t index = static_cast<std::uint32_t>(slot) - 1;
        if (keyOf(lines[index]) == key) {
            probe.index = index;
            return probe;
        }
    }
}

void DeviceList::FirstLineIndex::addAfter(const Probe& probe, std::size_t index, const text::Lines& lines)
{
    if ((used_ + 1) * 2 > slots_.size()) {
        grow();
        add(index, lines);
        return;
    }
    slots_[probe.freeSlot] = (std::uint64_t{probe.hash} << 32) | static_cast<std::uint32_t>(index + 1);
    ++used_;
}

void DeviceList::FirstLineIndex::add(std::size_t index, const text::Lines& lines)
{
    if ((used_ + 1) * 2 > slots_.size())
        grow();
    const Probe found = probe(keyOf(lines[index]), lines);
    if (!found.index)
        addAfter(found, index, lines);
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
    RecordResult result;
    const FirstLineIndex::Probe probe = firstLineOfKey_.probe(sighting.mac, lines_);
    if (const auto found = probe.index) {
        result.index = *found;
        std::string& line = lines_[*found];
        const std::string_view heldIp = DeviceLine::ipOf(text::readableLine(line));
        if (!heldIp.empty() && heldIp != sighting.ip) {
            result.ipChanged = true;
            result.previousIp.assign(heldIp); // a dotted address fits the string's own buffer
        }
        DeviceLine::renew(line, sighting);
        if (keyOf(line) != sighting.mac)
            firstLineOfKey_.rebuild(lines_); // only a MAC text under 17 bytes changes a key
        return result;
    }

    if (full()) {
        result.index = lines_.size();
        result.refused = true;
        return result;
    }
    DeviceLine added = DeviceLine::headOf(sighting);
    added.name = kNewDeviceName;
    added.hasName = true;
    lines_.push_back(added.text());
    // A full MAC text is the new line's key; a shorter one is followed by the address in it.
    if (sighting.mac.size() == kKeyLength)
        firstLineOfKey_.addAfter(probe, lines_.size() - 1, lines_);
    else
        firstLineOfKey_.add(lines_.size() - 1, lines_);
    result.index = lines_.size() - 1;
    result.appended = true;
    return result;
}

DeviceList::RenameResult DeviceList::rename(std::size_t index, std::string_view cp932Name)
{
    if (index >= lines_.size())
        return RenameResult::noSuchLine;
    if (cp932Name.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos)
        return RenameResult::badCharacter;
    auto fields = this->fields(index);
    if (!fields || !takesName(*fields))
        return RenameResult::noNameField;
    std::string& line = lines_[index];

    const std::string_view name = cp932Name.substr(0, text::wholeCharacterPrefix(cp932Name, kNameLimit));
    const std::string oldKey(keyOf(line));
    if (fields->hasName) {
        // The whole rest of the line is the name, also beyond what the page shows.
        line.replace(static_cast<std::size_t>(fields->name.data() - line.data()), std::string::npos, name);
    } else {
        fields->name = name;
        fields->hasName = true;
        line = fields->text();
    }
    // A hand-edited line may hold its fourth comma within the first 17 bytes.
    if (keyOf(line) != oldKey)
        firstLineOfKey_.rebuild(lines_);
    return RenameResult::renamed;
}

bool DeviceList::takesName(const DeviceLine& fields)
{
    // Without a name field, only a comma the page splits at makes a new one a name it shows, and
    // only where the name starts within the bytes a line is read with.
    return fields.hasName
           || (fields.ip.size() + fields.date.size() + fields.time.size() + 2 < DeviceLine::kSplitBytes
               && fields.size() + 1 < text::kLineReadLimit);
}

bool DeviceList::canRename(std::size_t index) const
{
    const auto fields = this->fields(index);
    return fields && takesName(*fields);
}

std::optional<DeviceLine> DeviceList::fields(std::size_t index) const
{
    if (index >= lines_.size())
        return std::nullopt;
    return DeviceLine::parse(text::readableLine(lines_[index]));
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

} // namespace zqn::discovery
