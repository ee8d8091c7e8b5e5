#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>

#include "../tests/support/gathered_bytes.h"
#include "../tests/support/line_rules.h"
#include "discovery/device_list.h"
#include "fuzz_check.h"
#include "report/list_page.h"
#include "text/line_list.h"

namespace zqn::fuzz {

// Follows the device list the slow way it is defined: a plain top-down scan for the first line
// whose first 17 bytes equal the MAC text. The list itself finds that line through an index
// that an update can invalidate, which is what this cross-checks after every record.
class RecordOracle {
public:
    void reset(const text::Lines& lines) { lines_ = lines; }

    // Records the sighting into the list and checks the result against the scan. With
    // keysUnique (a list that started empty), a 17-byte MAC text must key exactly one line.
    // A new device finds a full list unchanged.
    discovery::DeviceList::RecordResult record(discovery::DeviceList& list,
                                               const discovery::Sighting& sighting, bool keysUnique)
    {
        FUZZ_CHECK(list.count() == lines_.size());
        std::size_t first = lines_.size();
        std::size_t matches = 0;
        for (std::size_t i = 0; i < lines_.size(); ++i) {
            if (std::string_view(lines_[i]).substr(0, 17) != sighting.mac)
                continue;
            if (first == lines_.size())
                first = i;
            ++matches;
            if (!keysUnique)
                break;
        }

        const bool full = lines_.size() >= list.capacity();
        FUZZ_CHECK(list.full() == full);
        const auto result = list.record(sighting);
        const std::string head = sighting.mac + ',' + sighting.ip + ',' + sighting.date + ',' + sighting.time;

        if (first == lines_.size() && full) {
            FUZZ_CHECK(result.refused && !result.appended && !result.ipChanged && result.previousIp.empty());
            FUZZ_CHECK(result.index == lines_.size());
            checkSame(list);
        } else if (first == lines_.size()) {
            FUZZ_CHECK(!result.refused);
            FUZZ_CHECK(result.appended);
            FUZZ_CHECK(!result.ipChanged && result.previousIp.empty());
            FUZZ_CHECK(result.index == lines_.size());
            FUZZ_CHECK(list.count() == lines_.size() + 1);
            FUZZ_CHECK(list.line(result.index) == head + ",noname");
            lines_.push_back(list.line(result.index));
        } else {
            FUZZ_CHECK(!result.appended && !result.refused);
            FUZZ_CHECK(result.index == first);
            const std::string_view heldIp = heldIpOf(lines_[first]);
            FUZZ_CHECK(result.ipChanged == (!heldIp.empty() && heldIp != sighting.ip));
            FUZZ_CHECK(result.previousIp == (result.ipChanged ? heldIp : std::string_view()));
            FUZZ_CHECK(list.count() == lines_.size());
            const std::string& updated = list.line(first);
            FUZZ_CHECK(updated == rules::renewed(lines_[first], sighting.mac, sighting.ip, sighting.date, sighting.time));
            lines_[first] = updated;
        }
        if (keysUnique && sighting.mac.size() == 17)
            FUZZ_CHECK(matches <= 1);
        return result;
    }

    // Whatever record did to lines other than the one it reported shows up here.
    void checkSame(const discovery::DeviceList& list) const { FUZZ_CHECK(list.lines() == lines_); }

private:
    static std::string_view heldIpOf(std::string_view line)
    {
        const auto fields = rules::fieldsOf(line);
        return fields ? fields->ip : std::string_view();
    }

    text::Lines lines_;
};

// The CSV file's text, as the monitor writes it.
inline std::string csvOf(const discovery::DeviceList& list)
{
    test::GatheredBytes out;
    report::writeCsv(out, list);
    return out.bytes;
}

// A list that holds no CR or LF inside a line must load back from its own text unchanged.
inline void checkRoundTrip(const discovery::DeviceList& list)
{
    discovery::DeviceList reloaded;
    const std::string saved = csvOf(list);
    reloaded.load(saved);
    FUZZ_CHECK(reloaded.lines() == list.lines());
    FUZZ_CHECK(csvOf(reloaded) == saved);
}

} // namespace zqn::fuzz
