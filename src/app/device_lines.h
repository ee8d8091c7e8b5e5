#pragma once

#include <QDateTime>
#include <QString>
#include <QUrl>

#include <optional>

#include "app/maker_registry.h"
#include "discovery/device_line.h"
#include "discovery/device_list.h"
#include "text/stamp.h"

namespace zqn::app {

// What the user asks of a device line, by its row in the list. A row that is not there, or a line
// without a comma within its readable bytes, is no device: nothing is told of it.

// One device line's fields, for the user.
struct DeviceText {
    QString mac;
    QString ip;
    QString name;
};
std::optional<DeviceText> deviceTextAt(const discovery::DeviceList& devices, int row);

// The device's web interface, as the page's button reaches it; empty for a line without an
// address, or one whose address is not a plain host.
QUrl deviceUrlAt(const discovery::DeviceList& devices, int row, int httpPort);

// What the user may want to know beyond the line: its maker (empty when not known) and when it
// was last heard (invalid when its line does not say), against the time now.
struct DeviceDetails {
    QString maker;
    QDateTime heard;
    QDateTime now;
};
std::optional<DeviceDetails> deviceDetailsAt(const discovery::DeviceList& devices, int row,
                                             const MakerRegistry& makers, text::LocalDateTime now);

} // namespace zqn::app
