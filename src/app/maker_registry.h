#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <atomic>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "discovery/maker_table.h"

namespace zqn::app {

// The makers of devices, from the IEEE registry that Debian's ieee-data installs. The files are
// read at the first question, never on the way of a datagram; without them no maker is known
// and nothing is said. Any thread may ask.
class MakerRegistry {
public:
    static QString defaultFolder() { return QStringLiteral("/usr/share/ieee-data"); }

    explicit MakerRegistry(QString folder = defaultFolder());
    ~MakerRegistry();

    // Empty when the maker is not known.
    QString makerOf(std::string_view macText) const;

    // Reads the files now, if that has not happened yet; the table as read.
    const discovery::MakerTable& table() const;

    // Calls then, on the thread that owns context, once the files are read: at once when they
    // are, else after they were read on a thread of their own, so that a caller on the way of a
    // datagram never waits for them. Calls come in the order asked; none once context is gone.
    void whenRead(QObject* context, std::function<void()> then) const;

private:
    void deliver() const;

    QString folder_;
    mutable std::once_flag once_;
    mutable std::optional<discovery::MakerTable> table_;
    mutable std::atomic<bool> read_{false};
    mutable std::mutex readingMutex_;
    mutable std::future<discovery::MakerTable> reading_;
    mutable std::vector<std::pair<QPointer<QObject>, std::function<void()>>> waiting_;
    std::unique_ptr<QObject> receiver_; // where the reading thread says it is done
};

} // namespace zqn::app
