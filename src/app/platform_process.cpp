#include "app/platform.h"

#ifdef __GLIBC__
#include <malloc.h>
#endif
#ifdef __linux__

#include <sys/resource.h>
#include <unistd.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace zqn::app {

namespace {

std::string fileText(const char* path)
{
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::optional<double> bootSeconds()
{
    std::istringstream lines(fileText("/proc/stat"));
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::string key;
        long long seconds = 0;
        if (words >> key >> seconds && key == "btime")
            return static_cast<double>(seconds);
    }
    return std::nullopt;
}

double openDescriptors()
{
    // The directory's own descriptor counts too, as the client libraries count it.
    std::error_code error;
    double count = 0;
    for (std::filesystem::directory_iterator it("/proc/self/fd", error), end; !error && it != end;
         it.increment(error))
        ++count;
    return count;
}

std::optional<web::ProcessFigures> figuresFromProc()
{
    // The command name in parentheses may itself hold spaces and parentheses: the numbered
    // fields are counted from the last ')', the fourth (ppid) first.
    const std::string stat = fileText("/proc/self/stat");
    const std::size_t nameEnd = stat.rfind(')');
    if (nameEnd == std::string::npos)
        return std::nullopt;
    std::istringstream fields(stat.substr(nameEnd + 1));
    std::string state;
    std::array<long long, 21> field{}; // fields 4 to 24
    fields >> state;
    for (long long& value : field)
        fields >> value;
    const long ticks = ::sysconf(_SC_CLK_TCK);
    const long pageBytes = ::sysconf(_SC_PAGESIZE);
    static const std::optional<double> boot = bootSeconds(); // /proc/stat is long on many cores
    rlimit files{};
    if (!fields || ticks <= 0 || pageBytes <= 0 || !boot || ::getrlimit(RLIMIT_NOFILE, &files) != 0)
        return std::nullopt;
    const auto at = [&field](int number) { return static_cast<double>(field[static_cast<std::size_t>(number - 4)]); };
    return web::ProcessFigures{
        .residentBytes = at(24) * static_cast<double>(pageBytes),
        .cpuSeconds = (at(14) + at(15)) / static_cast<double>(ticks),
        .openFds = openDescriptors(),
        .maxFds = static_cast<double>(files.rlim_cur),
        .startTimeSeconds = *boot + at(22) / static_cast<double>(ticks),
    };
}

} // namespace

} // namespace zqn::app

#endif

namespace zqn::app {

std::optional<web::ProcessFigures> processFigures()
{
#ifdef __linux__
    if (auto figures = figuresFromProc())
        return figures;
#endif
    // Elsewhere, and where /proc is not mounted, the metrics leave them out.
    return std::nullopt;
}

void releaseFreedMemory()
{
#ifdef __GLIBC__
    malloc_trim(0);
#endif
}

} // namespace zqn::app
