#include "app/monitor_wiring.h"

#include "storage/cp932_codec.h"

namespace zqn::app {

std::unique_ptr<WebFront> openWebFront(MonitorController& controller, QString& problem)
{
    const auto read = [&controller] {
        const auto& devices = controller.devices();
        const auto& datagrams = controller.datagramCounts();
        return WebFront::Reading{devices.count(),        devices.capacity(),
                                 controller.state() == MonitorController::State::Running,
                                 datagrams.recorded,     datagrams.filtered, datagrams.refused,
                                 datagrams.added,        datagrams.moved};
    };
    const auto makerOf = [&controller](std::string_view mac) { return controller.makers().makerOf(mac); };
    QString words;
    auto front = WebFront::open(controller.publisher(), read, makerOf, controller.settings().web, problem, words);
    if (!problem.isEmpty())
        controller.setStandingProblem(words, problem);
    return front;
}

void connectNotices(MonitorController& controller, DeviceNotices& notices)
{
    notices.setMakerLookup(
        [&controller](const QString& mac) { return controller.makers().makerOf(storage::toCp932(mac)); });
    QObject::connect(&controller, &MonitorController::deviceAppended, &notices, [&controller, &notices](int row) {
        if (!controller.notifiesNewDevices())
            return;
        if (const auto device = controller.device(row))
            notices.deviceAppended(device->mac, device->ip);
    });
    QObject::connect(&controller, &MonitorController::deviceMoved, &notices,
                     [&controller, &notices](int row, const QString& previousIp) {
                         if (!controller.notifiesNewDevices())
                             return;
                         if (const auto device = controller.device(row))
                             notices.deviceMoved(device->mac, previousIp, device->ip);
                     });
    QObject::connect(&controller, &MonitorController::notifyNewDevicesChanged, &notices, [&notices](bool on) {
        if (!on)
            notices.clear();
    });
    QObject::connect(&notices, &DeviceNotices::noticeReady, &controller, &MonitorController::noticeRaised);
}

void connectJournal(MonitorController& controller, DeviceJournal& journal)
{
    // Entries wait, in order, for the makers' table, which a flood must not wait for.
    QObject::connect(&controller, &MonitorController::deviceAppended, &journal, [&controller, &journal](int row) {
        if (!journal.admits(DeviceJournal::Kind::added))
            return;
        if (auto device = controller.device(row))
            controller.makers().whenRead(&journal, [&controller, &journal, device = std::move(*device)] {
                journal.tellAppended(device, controller.makers().makerOf(storage::toCp932(device.mac)));
            });
    });
    QObject::connect(&controller, &MonitorController::deviceMoved, &journal,
                     [&controller, &journal](int row, const QString& previousIp) {
                         if (!journal.admits(DeviceJournal::Kind::moved))
                             return;
                         if (auto device = controller.device(row))
                             controller.makers().whenRead(&journal, [&journal, device = std::move(*device), previousIp] {
                                 journal.tellMoved(device, previousIp);
                             });
                     });
}

} // namespace zqn::app
