#include "bench_devices.h"

#include <cstdio>

namespace zqn::bench {

void writeMac(std::string& mac, std::size_t device)
{
    constexpr std::string_view hex = "0123456789ABCDEF";
    mac.resize(17);
    for (int k = 0; k < 6; ++k) {
        const auto byte = k == 0 ? 0x0Au : unsigned(device >> (8 * (5 - k)) & 0xFF);
        mac[3 * k] = hex[byte >> 4];
        mac[3 * k + 1] = hex[byte & 0xF];
        if (k < 5)
            mac[3 * k + 2] = ':';
    }
}

std::string macOf(std::size_t device)
{
    std::string mac;
    writeMac(mac, device);
    return mac;
}

discovery::Sighting sightingOf(std::size_t device, std::size_t moment)
{
    char ip[16];
    std::snprintf(ip, sizeof ip, "192.168.%u.%u", unsigned(device / 250 % 256), unsigned(device % 250 + 1));
    char time[9];
    std::snprintf(time, sizeof time, "%02u:%02u:%02u", unsigned(moment / 3600 % 24), unsigned(moment / 60 % 60),
                  unsigned(moment % 60));
    return {macOf(device), ip, "2024/05/01", time};
}

discovery::DeviceList deviceListOf(std::size_t count)
{
    std::string csv;
    csv.reserve(count * 64);
    for (std::size_t device = 0; device < count; ++device) {
        const auto s = sightingOf(device, device);
        csv.append(s.mac).append(1, ',').append(s.ip).append(1, ',').append(s.date).append(1, ',').append(s.time);
        // プリンタ, as a hand-edited CSV file would name a device.
        csv.append(device % 7 == 0 ? ",\x83\x76\x83\x8A\x83\x93\x83\x5E\r\n" : ",noname\r\n");
    }
    discovery::DeviceList devices;
    devices.load(csv);
    return devices;
}

} // namespace zqn::bench
