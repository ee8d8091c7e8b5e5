#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "text/line_list.h"

namespace zqn::discovery {

// One accepted announcement, as the device list records it.
struct Sighting {
    std::string mac;
    std::string ip;
    std::string date; // "yyyy/mm/dd"
    std::string time; // "hh:nn:ss"
};

// The monitor's one record of the devices it has heard: one line per device, keyed by the
// line's first 17 bytes, in first-sighting order. Lines are never validated, sorted or removed.
class DeviceList {
public:
    struct RecordResult {
        std::size_t index = 0;
        bool appended = false;
    };

    // Renews the first line whose key equals the MAC text (keeping its name), or appends a line
    // named "noname". First-match semantics of a top-down scan, found through an index.
    RecordResult record(const Sighting& sighting);

    void clear();

    // Replaces the whole list by the lines of a CSV file's bytes.
    void load(std::string_view bytes);

    // The CSV file's bytes: every line followed by CR LF, except that a list loaded from a file
    // whose last line had no break keeps writing its last line without one.
    std::string text() const;

    std::size_t count() const { return lines_.size(); }
    const std::string& line(std::size_t index) const { return lines_[index]; }
    const text::Lines& lines() const { return lines_; }

private:
    // The first 17 bytes of a line (or the whole of a shorter line), held without allocating.
    struct Key {
        std::array<char, 17> bytes{};
        std::size_t size = 0;
        explicit Key(std::string_view text);
        bool operator==(const Key& other) const;
    };
    struct KeyHash {
        std::size_t operator()(const Key& key) const noexcept;
    };

    void indexLine(std::size_t index);
    void reindexAfterKeyChange(const Key& oldKey, std::size_t index);

    text::Lines lines_;
    bool lastLineUnterminated_ = false;
    std::unordered_map<Key, std::size_t, KeyHash> firstLineOfKey_;
};

} // namespace zqn::discovery
