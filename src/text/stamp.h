#pragma once

#include <functional>
#include <string>

namespace zqn::text {

struct LocalDateTime {
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;

    bool operator==(const LocalDateTime&) const = default;
};

// The clock is injected so that every stamped output can be fixed in tests.
using Clock = std::function<LocalDateTime()>;

// "yyyy/mm/dd": the device list's update rule relies on the "/".
std::string dateText(const LocalDateTime& t);
// "hh:nn:ss", 24-hour clock.
std::string timeText(const LocalDateTime& t);
// Date, one space, time.
std::string stampText(const LocalDateTime& t);

} // namespace zqn::text
