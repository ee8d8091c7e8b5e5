#pragma once

#include <QElapsedTimer>
#include <QString>

#include <cstddef>

namespace zqn::app {

// What a full list says while it turns new devices away: after the status of every write while it
// is full, and as a warning of its own at the first refusal after a write, at most once a minute.
class FullListWarning {
public:
    // For the status; empty while the list has room.
    static QString statusWarning(bool full, std::size_t capacity);

    // A new device was turned away: the warning to tell now, or nothing.
    QString refused(std::size_t capacity)
    {
        return refusedSinceWrite_ ? QString() : firstRefusal(capacity);
    }
    void written() { refusedSinceWrite_ = false; }

private:
    QString firstRefusal(std::size_t capacity);

    bool refusedSinceWrite_ = false;
    QElapsedTimer warnedAt_;
};

} // namespace zqn::app
