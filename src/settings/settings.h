#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "discovery/device_capacity.h"

namespace zqn::settings {

inline constexpr int kFewestMaxDevices = 1;
inline constexpr int kMostMaxDevices = 1'000'000;

// The monitor's settings. Texts are code page 932 bytes, kept as they are.
struct Settings {
    bool autoStart = false;
    bool startHidden = false;
    int udpPort = 5000;
    int httpPort = 80;
    int saveInterval = 10; // seconds
    std::string csvPath = "zqnlist.csv";
    std::string htmlPath = "zqnlist.htm";
    std::string heading = "ZQN LIST";
    bool notifyNewDevices = false;
    int maxDevices = static_cast<int>(discovery::kDefaultDeviceCapacity); // within the two limits above

    bool operator==(const Settings&) const = default;
};

// A whole decimal number in the signed 32-bit range (an optional sign, then digits only);
// anything else, "50a0" or "" or an overflow, is nothing.
std::optional<int> parseDecimal(std::string_view text);

// Reads the settings file's bytes (CR LF or LF lines). A missing key or a value that is not a
// whole decimal number gives the default; booleans are integers, any non-zero one is true. A
// device cap outside its limits gives the default too.
Settings parseSettings(std::string_view iniBytes);

// The settings file's new bytes: the existing file (possibly empty) with the settings written
// into it, keeping every other section, key and comment. Lines end in CR LF. The two later keys
// go in only where they matter, so that the file of a user who never uses them stays as it was:
// NOTIFY when it is on or already there, MAXDEV only when already there.
std::string writeSettings(std::string_view existingIniBytes, const Settings& settings);

} // namespace zqn::settings
