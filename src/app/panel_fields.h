#pragma once

#include <string>

#include "settings/settings.h"

namespace zqn::app {

// What the settings panel's number fields hold. At exit these, not the record, give the UDP
// port, the HTTP port and the save interval that are written.
struct PanelFields {
    std::string udpPort = "5000";
    std::string httpPort = "80";
    int saveInterval = 10; // the spin control's value, always within its range

    bool operator==(const PanelFields&) const = default;
};

inline constexpr int kMinSaveInterval = 10;
inline constexpr int kMaxSaveInterval = 9999;

// The spin control's value for a save interval: taken as a signed 16-bit value, then kept
// within 10 to 9999.
int spinValueFor(int saveInterval);

// The panel's fields filled from the record.
PanelFields panelFieldsFor(const settings::Settings& settings);

// The record with the panel's three numbers, as Apply takes them and exit writes them; a field
// that is not a whole decimal number gives 5000 or 80.
settings::Settings withPanelFields(const settings::Settings& record, const PanelFields& fields);

} // namespace zqn::app
