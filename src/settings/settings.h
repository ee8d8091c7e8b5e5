#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "discovery/device_capacity.h"
#include "text/messages.h"

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
    std::string heading{text::messages::kProgramName};
    bool notifyNewDevices = false;
    int maxDevices = static_cast<int>(discovery::kDefaultDeviceCapacity); // within the two limits above
    std::string web = {}; // the web endpoint's address as written; see parseWebAddress

    bool operator==(const Settings&) const = default;
};

// A whole decimal number in the signed 32-bit range (an optional sign, then digits only);
// anything else, "50a0" or "" or an overflow, is nothing.
std::optional<int> parseDecimal(std::string_view text);

// Reads the settings file's bytes (CR LF or LF lines). A missing key or a value that is not a
// whole decimal number gives the default; booleans are integers, any non-zero one is true. A
// device cap outside its limits gives the default too.
Settings parseSettings(std::string_view iniBytes);

// Where the web endpoint listens, from WEB: "5080" on every address, "127.0.0.1:5080" or
// "[::1]:5080" on one. Empty or "0" is off. The host is not checked here: it must be a literal
// address, which only the endpoint can tell.
struct WebAddress {
    enum class Kind { off, listen, bad };
    Kind kind = Kind::off;
    std::string host; // empty: every address
    int port = 0;
    std::string problem; // for bad: what is wrong, in UTF-8

    bool operator==(const WebAddress&) const = default;
};
WebAddress parseWebAddress(std::string_view value);

// The settings file's new bytes: the existing file (possibly empty) with the settings written
// into it, keeping every other section, key and comment. Lines end in CR LF. The two later keys
// go in only where they matter, so that the file of a user who never uses them stays as it was:
// NOTIFY when it is on or already there, MAXDEV and WEB only when already there.
std::string writeSettings(std::string_view existingIniBytes, const Settings& settings);

} // namespace zqn::settings
