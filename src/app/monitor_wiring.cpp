#include "app/monitor_wiring.h"

namespace zqn::app {

std::unique_ptr<WebFront> openWebFront(MonitorController& controller, QString& problem)
{
    const auto read = [&controller] {
        const auto& devices = controller.devices();
        const auto& datagrams = controller.datagramCounts();
        return WebFront::Reading{devices.count(),        devices.capacity(),
                                 controller.state() == MonitorController::State::Running,
                                 datagrams.recorded,     datagrams.filtered, datagrams.refused};
    };
    auto front = WebFront::open(controller.publisher(), read, controller.settings().web, problem);
    if (!problem.isEmpty())
        controller.setStandingProblem(problem);
    return front;
}

} // namespace zqn::app
