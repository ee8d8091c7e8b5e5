#include "text/stamp.h"

#include <cstdio>

namespace zqn::text {

namespace {
std::string threeFields(const char* format, int a, int b, int c)
{
    char buffer[40];
    const int n = std::snprintf(buffer, sizeof buffer, format, a, b, c);
    return std::string(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
}
} // namespace

std::string dateText(const LocalDateTime& t)
{
    return threeFields("%04d/%02d/%02d", t.year, t.month, t.day);
}

std::string timeText(const LocalDateTime& t)
{
    return threeFields("%02d:%02d:%02d", t.hour, t.minute, t.second);
}

std::string stampText(const LocalDateTime& t)
{
    return dateText(t) + ' ' + timeText(t);
}

} // namespace zqn::text
