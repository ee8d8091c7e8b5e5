#pragma once

#include <string>
#include <string_view>

namespace zqn::report {

// Where a device's web interface is reached: "http://" and the IP address, with ":port" when the
// HTTP port is not 80. The page's buttons and the window's 接続 both go there.
std::string deviceAddress(std::string_view ip, int httpPort);

} // namespace zqn::report
