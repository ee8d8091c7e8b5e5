#pragma once

#include <QString>

#include <memory>

#include "app/device_journal.h"
#include "app/device_notices.h"
#include "app/monitor_controller.h"
#include "app/web_front.h"

namespace zqn::app {

// The web front that the controller's WEB setting asks for, serving what its publisher writes and
// reading its counts. Call once the settings are read. When it cannot listen, the controller's
// status keeps saying so and problem tells why; nothing, and no problem, when WEB is off.
std::unique_ptr<WebFront> openWebFront(MonitorController& controller, QString& problem);

// Tells controller's new devices, and devices heard from another address, through notices while
// the user asks to be told, naming a new device's maker; notices then speak as the controller's
// noticeRaised.
void connectNotices(MonitorController& controller, DeviceNotices& notices);

// Tells controller's new devices, and devices heard from another address, in journal, naming a
// new device's maker; whatever NOTIFY says, which is about the desktop.
void connectJournal(MonitorController& controller, DeviceJournal& journal);

} // namespace zqn::app
