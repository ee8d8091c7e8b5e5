#include "app/device_lines.h"

#include "report/device_address.h"
#include "storage/cp932_codec.h"

namespace zqn::app {

namespace {

std::optional<discovery::DeviceLine> fieldsAt(const discovery::DeviceList& devices, int row)
{
    if (row < 0)
        return std::nullopt;
    return devices.fields(static_cast<std::size_t>(row));
}

} // namespace

std::optional<DeviceText> deviceTextAt(const discovery::DeviceList& devices, int row)
{
    const auto fields = fieldsAt(devices, row);
    if (!fields)
        return std::nullopt;
    return DeviceText{storage::fromCp932(fields->mac), storage::fromCp932(fields->ip), storage::fromCp932(fields->name)};
}

QUrl deviceUrlAt(const discovery::DeviceList& devices, int row, int httpPort)
{
    const auto fields = fieldsAt(devices, row);
    if (!fields || fields->ip.empty())
        return {};
    // The address comes from a file anyone may have edited: only a plain host is opened.
    const QUrl url(storage::fromCp932(report::deviceAddress(fields->ip, httpPort)), QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty() || !url.path().isEmpty())
        return {};
    return url;
}

std::optional<DeviceDetails> deviceDetailsAt(const discovery::DeviceList& devices, int row,
                                             const MakerRegistry& makers, text::LocalDateTime now)
{
    const auto fields = fieldsAt(devices, row);
    if (!fields)
        return std::nullopt;
    return DeviceDetails{
        makers.makerOf(fields->mac),
        QDateTime(QDate::fromString(storage::fromCp932(fields->date), QStringLiteral("yyyy/MM/dd")),
                  QTime::fromString(storage::fromCp932(fields->time), QStringLiteral("HH:mm:ss"))),
        QDateTime(QDate(now.year, now.month, now.day), QTime(now.hour, now.minute, now.second)),
    };
}

} // namespace zqn::app
