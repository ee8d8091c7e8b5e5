#pragma once

#include <QString>

#include <future>
#include <optional>
#include <string_view>

#include "discovery/maker_table.h"

namespace zqn::app {

// The makers of devices, from the IEEE registry that Debian's ieee-data installs. The files are
// read at the first question, never on the way of a datagram; without them no maker is known
// and nothing is said.
class MakerRegistry {
public:
    static QString defaultFolder() { return QStringLiteral("/usr/share/ieee-data"); }

    explicit MakerRegistry(QString folder = defaultFolder()) : folder_(std::move(folder)) {}

    // Empty when the maker is not known.
    QString makerOf(std::string_view macText) const;

    // Reads the files now, if that has not happened yet; the table as read.
    const discovery::MakerTable& table() const;

    // Starts reading the files on a thread of their own, for a caller that will ask on the way of
    // a datagram: a flood would overrun the socket while they were read there.
    void readAhead() const;

private:
    QString folder_;
    mutable std::optional<discovery::MakerTable> table_;
    mutable std::future<discovery::MakerTable> reading_;
};

} // namespace zqn::app
