#include "app/panel_fields.h"

#include <algorithm>
#include <cstdint>

namespace zqn::app {

int spinValueFor(int saveInterval)
{
    const int asSpinValue = static_cast<std::int16_t>(saveInterval);
    return std::clamp(asSpinValue, kMinSaveInterval, kMaxSaveInterval);
}

PanelFields panelFieldsFor(const settings::Settings& settings)
{
    return PanelFields{std::to_string(settings.udpPort), std::to_string(settings.httpPort),
                       spinValueFor(settings.saveInterval)};
}

settings::Settings withPanelFields(const settings::Settings& record, const PanelFields& fields)
{
    const settings::Settings defaults;
    settings::Settings settings = record;
    settings.udpPort = settings::parseDecimal(fields.udpPort).value_or(defaults.udpPort);
    settings.httpPort = settings::parseDecimal(fields.httpPort).value_or(defaults.httpPort);
    settings.saveInterval = fields.saveInterval;
    return settings;
}

} // namespace zqn::app
