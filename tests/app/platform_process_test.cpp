#include "app/platform.h"

#include <gtest/gtest.h>

#ifdef __linux__

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <ctime>
#include <vector>

namespace zqn::app {
namespace {

double cpuSecondsByRusage()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Each figure against what the system tells by another way, so that a wrong field or unit shows.
TEST(ProcessFigures, AgreeWithWhatTheSystemTellsOtherwise)
{
    const double cpuBefore = cpuSecondsByRusage();
    const auto figures = processFigures();
    const double cpuAfter = cpuSecondsByRusage();
    ASSERT_TRUE(figures);

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    EXPECT_GT(figures->residentBytes, 1 << 20); // a process with Qt and GoogleTest loaded
    EXPECT_LE(figures->residentBytes, static_cast<double>(usage.ru_maxrss) * 1024);
    // /proc counts in clock ticks, getrusage finer.
    EXPECT_GE(figures->cpuSeconds, cpuBefore - 0.05);
    EXPECT_LE(figures->cpuSeconds, cpuAfter + 0.05);
    // Each test runs in a process of its own, started moments ago.
    const auto now = static_cast<double>(std::time(nullptr));
    EXPECT_LE(figures->startTimeSeconds, now + 1);
    EXPECT_GT(figures->startTimeSeconds, now - 3600);
}

TEST(ProcessFigures, DescriptorsFollowWhatIsOpenAndTheLimit)
{
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit lowered = saved;
    lowered.rlim_cur = 200;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &lowered), 0);
    const auto before = processFigures();
    std::vector<int> opened;
    for (int i = 0; i < 5; ++i)
        opened.push_back(open("/dev/null", O_RDONLY | O_CLOEXEC));
    const auto during = processFigures();
    for (const int fd : opened)
        close(fd);
    setrlimit(RLIMIT_NOFILE, &saved);

    ASSERT_TRUE(before && during);
    EXPECT_EQ(during->openFds - before->openFds, 5);
    EXPECT_EQ(before->maxFds, 200);
}

} // namespace
} // namespace zqn::app

#endif
