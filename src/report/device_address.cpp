#include "report/device_address.h"

namespace zqn::report {

std::string deviceAddress(std::string_view ip, int httpPort)
{
    std::string address = "http://";
    address.append(ip);
    if (httpPort != 80)
        address.append(1, ':').append(std::to_string(httpPort));
    return address;
}

} // namespace zqn::report
