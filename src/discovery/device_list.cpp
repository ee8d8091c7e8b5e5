#include "discovery/device_list.h"

#include <algorithm>
#include <cstring>
#include <functional>

#include "text/cp932.h"

namespace zqn::discovery {

namespace {

constexpr std::size_t kKeyLength = 17;
constexpr std::size_t kKeptTailLimit = 255;

// In a line the monitor wrote, the first "/" follows the year and 14 bytes later stands the
// "," before the name; from there on the line is kept. Without a "/" the tail starts at byte 14.
std::string_view keptTail(std::string_view line)
{
    const std::size_t slash = line.find('/');
    const std::size_t start = slash == std::string_view::npos ? 14 : slash + 15;
    if (start >= line.size())
        return {};
    const std::string_view tail = line.substr(start);
    return tail.substr(0, text::wholeCharacterPrefix(tail, kKeptTailLimit));
}

} // namespace

DeviceList::Key::Key(std::string_view text) : size(std::min(text.size(), kKeyLength))
{
    std::memcpy(bytes.data(), text.data(), size);
}

bool DeviceList::Key::operator==(const Key& other) const
{
    return size == other.size && std::memcmp(bytes.data(), other.bytes.data(), size) == 0;
}

std::size_t DeviceList::KeyHash::operator()(const Key& key) const noexcept
{
    return std::hash<std::string_view>{}(std::string_view(key.bytes.data(), key.size));
}

void DeviceList::indexLine(std::size_t index)
{
    firstLineOfKey_.try_emplace(Key(lines_[index]), index);
}

DeviceList::RecordResult DeviceList::record(const Sighting& sighting)
{
    std::string head;
    head.reserve(sighting.mac.size() + sighting.ip.size() + sighting.date.size()
                 + sighting.time.size() + 3 + kKeptTailLimit);
    head.append(sighting.mac).append(1, ',').append(sighting.ip).append(1, ',');
    head.append(sighting.date).append(1, ',').append(sighting.time);

    const Key key(sighting.mac);
    if (sighting.mac.size() <= kKeyLength) {
        if (const auto found = firstLineOfKey_.find(key); found != firstLineOfKey_.end()) {
            const std::size_t index = found->second;
            std::string& line = lines_[index];
            head.append(keptTail(line));
            line = std::move(head);
            if (!(Key(line) == key))
                reindexAfterKeyChange(key, index);
            return {index, false};
        }
    }

    head.append(",noname");
    lines_.push_back(std::move(head));
    indexLine(lines_.size() - 1);
    return {lines_.size() - 1, true};
}

// Only a MAC text shorter than 17 bytes (a short count) can change a line's key on update:
// the old key may now first occur further down, and the new key may now occur first here.
void DeviceList::reindexAfterKeyChange(const Key& oldKey, std::size_t index)
{
    firstLineOfKey_.erase(oldKey);
    for (std::size_t i = index + 1; i < lines_.size(); ++i) {
        if (Key(lines_[i]) == oldKey) {
            firstLineOfKey_.emplace(oldKey, i);
            break;
        }
    }
    auto [it, inserted] = firstLineOfKey_.try_emplace(Key(lines_[index]), index);
    if (!inserted && it->second > index)
        it->second = index;
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
    firstLineOfKey_.reserve(lines_.size());
    for (std::size_t i = 0; i < lines_.size(); ++i)
        indexLine(i);
}

std::string DeviceList::text() const
{
    std::string out = text::joinLines(lines_);
    if (lastLineUnterminated_ && !out.empty())
        out.resize(out.size() - text::kLineBreak.size());
    return out;
}

} // namespace zqn::discovery
