#include "app/sighting_recorder.h"

#include "discovery/announcement.h"

namespace zqn::app {

std::optional<discovery::DeviceList::RecordResult> SightingRecorder::record(QByteArrayView datagram,
                                                                            QByteArrayView fromIp,
                                                                            const text::LocalDateTime& now)
{
    const auto mac = discovery::macTextIn(std::string_view(datagram.data(), static_cast<std::size_t>(datagram.size())));
    if (!mac) {
        ++counts_.filtered;
        return std::nullopt;
    }
    if (now != sightingTime_) {
        sightingTime_ = now;
        sighting_.date = text::dateText(now);
        sighting_.time = text::timeText(now);
    }
    sighting_.mac.assign(mac->view()); // into the capacity of the last one
    sighting_.ip.assign(fromIp.data(), static_cast<std::size_t>(fromIp.size()));
    auto result = devices_.record(sighting_);
    if (result.refused) {
        ++counts_.refused;
    } else {
        ++counts_.recorded;
        counts_.added += result.appended ? 1 : 0;
        counts_.moved += result.ipChanged ? 1 : 0;
    }
    return result;
}

} // namespace zqn::app
