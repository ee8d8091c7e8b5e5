#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "discovery/device_capacity.h"
#include "discovery/device_line.h"
#include "text/line_list.h"

namespace zqn::discovery {

// The monitor's one record of the devices it has heard: one line per device, keyed by the
// line's first 17 bytes, in first-sighting order. Lines are never validated, sorted or removed.
// It takes new devices up to its capacity, counted in lines.
class DeviceList {
public:
    struct RecordResult {
        std::size_t index = 0; // count() when refused
        bool appended = false;
        // A new device while the list is full: nothing was recorded.
        bool refused = false;
        // A known device heard from another address than the one its line held (a line that
        // held none does not count); previousIp is that address, and empty otherwise.
        bool ipChanged = false;
        std::string previousIp;
    };

    // Renews the first line whose key equals the MAC text (keeping its name), or appends a line
    // named "noname". First-match semantics of a top-down scan, found through an index.
    RecordResult record(const Sighting& sighting);

    enum class RenameResult {
        renamed,
        badCharacter, // CR, LF or NUL: the name would break the line
        noNameField,  // none can be added where the page shows it (see rename)
        noSuchLine,
    };

    // Replaces the name field of line index by the name, cut to 254 bytes at a whole character,
    // where the next sighting keeps it. A line without a name field gets one after its four
    // fields as the list page shows them, unless it has no comma or those fields fill the bytes
    // the page splits. Nothing changes unless the result is renamed.
    RenameResult rename(std::size_t index, std::string_view cp932Name);
    // Whether line index can take a name: rename would not answer noNameField or noSuchLine.
    bool canRename(std::size_t index) const;

    // The fields of line index as everything that shows or uses a device reads them: from the
    // line's first 4,096 bytes, as a line is read back (DeviceLine::parse). Nothing for a line
    // without a comma or beyond the list.
    std::optional<DeviceLine> fields(std::size_t index) const;

    std::size_t capacity() const { return capacity_; }
    void setCapacity(std::size_t capacity) { capacity_ = capacity; }
    // No new device is taken until the list is below its capacity again. A loaded file may hold
    // more lines than that: the user's file is never cut.
    bool full() const { return lines_.size() >= capacity_; }

    void clear();

    // Replaces the whole list by the lines of a CSV file's bytes.
    void load(std::string_view bytes);

    // What follows line index in the CSV file: CR LF, or nothing after a last line that had none.
    std::string_view lineBreakAfter(std::size_t index) const
    {
        return lastLineUnterminated_ && index + 1 == lines_.size() ? std::string_view() : text::kLineBreak;
    }

    std::size_t count() const { return lines_.size(); }
    const std::string& line(std::size_t index) const { return lines_[index]; }
    const text::Lines& lines() const { return lines_; }

private:
    // Whether a new name in these fields would be one the page shows.
    static bool takesName(const DeviceLine& fields);

    // Maps a line key (its first 17 bytes, or the whole of a shorter line) to the first line that
    // holds it. Open addressing over one flat array, so a lookup in a large list costs one cache
    // miss before the line itself.
    class FirstLineIndex {
    public:
        struct Probe {
            std::optional<std::size_t> index; // the first line with the key
            std::size_t freeSlot = 0;         // where the key goes otherwise, while slots remain
            std::uint32_t hash = 0;
        };
        Probe probe(std::string_view key, const text::Lines& lines) const;
        // Adds line index, whose key probe did not find, without a second probe.
        void addAfter(const Probe& probe, std::size_t index, const text::Lines& lines);
        // Adds the line unless an earlier line holds its key already.
        void add(std::size_t index, const text::Lines& lines);
        void rebuild(const text::Lines& lines);
        void clear();

    private:
        void grow();

        std::vector<std::uint64_t> slots_; // hash in the high half, index + 1 in the low half
        std::size_t used_ = 0;
    };

    text::Lines lines_;
    std::size_t capacity_ = kDefaultDeviceCapacity;
    bool lastLineUnterminated_ = false;
    FirstLineIndex firstLineOfKey_;
};

} // namespace zqn::discovery
