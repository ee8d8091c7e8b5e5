#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace zqn::settings {

// The monitor's eight settings. Texts are code page 932 bytes, kept as they are.
struct Settings {
    bool autoStart = false;
    bool startHidden = false;
    int udpPort = 5000;
    int httpPort = 80;
    int saveInterval = 10; // seconds
    std::string csvPath = "zqnlist.csv";
    std::string htmlPath = "zqnlist.htm";
    std::string heading = "ZQN LIST";

    bool operator==(const Settings&) const = default;
};

// A whole decimal number in the signed 32-bit range (an optional sign, then digits only);
// anything else, "50a0" or "" or an overflow, is nothing.
std::optional<int> parseDecimal(std::string_view text);

// Reads the settings file's bytes (CR LF or LF lines). A missing key or a value that is not a
// whole decimal number gives the default; booleans are integers, any non-zero one is true.
Settings parseSettings(std::string_view iniBytes);

// The settings file's new bytes: the existing file (possibly empty) with the eight settings
// written into it, keeping every other section, key and comment. Lines end in CR LF.
std::string writeSettings(std::string_view existingIniBytes, const Settings& settings);

} // namespace zqn::settings
