#pragma once

#include <QDateTime>

#include "text/stamp.h"

namespace zqn::app {

// The local date and time. Its text changes once a second; working it out costs a time-zone
// lookup, too much to pay for every datagram of a flood.
class SystemClock {
public:
    text::LocalDateTime operator()()
    {
        const qint64 second = QDateTime::currentSecsSinceEpoch();
        if (second != second_) {
            second_ = second;
            const QDateTime now = QDateTime::fromSecsSinceEpoch(second);
            const QDate d = now.date();
            const QTime t = now.time();
            local_ = {d.year(), d.month(), d.day(), t.hour(), t.minute(), t.second()};
        }
        return local_;
    }

private:
    qint64 second_ = -1;
    text::LocalDateTime local_;
};

} // namespace zqn::app
