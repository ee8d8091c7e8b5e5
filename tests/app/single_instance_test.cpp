#include "app/single_instance.h"

#include <QCoreApplication>
#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace zqn::app {
namespace {

struct InstanceCase {
    const char* name;
    const char* firstPath;
    const char* secondPath; // relative to the same folder
    bool secondRuns;
};

class SingleInstanceTest : public testing::TestWithParam<InstanceCase> {
protected:
    QTemporaryDir dir;
};

// A later copy with the same settings file, also named another way, leaves and brings the first
// forward; one with another file runs beside it.
TEST_P(SingleInstanceTest, OneCopyPerSettingsFile)
{
    const InstanceCase& c = GetParam();
    ASSERT_TRUE(dir.isValid());
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("sub")));
    SingleInstance first(dir.filePath(QLatin1String(c.firstPath)));
    ASSERT_TRUE(first.claim());
    QSignalSpy raised(&first, &SingleInstance::raiseRequested);

    SingleInstance second(dir.filePath(QLatin1String(c.secondPath)));
    EXPECT_EQ(second.claim(), c.secondRuns);

    if (c.secondRuns) {
        QCoreApplication::processEvents();
        EXPECT_EQ(raised.count(), 0);
    } else {
        EXPECT_TRUE(raised.wait());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SingleInstanceTest,
    testing::Values(InstanceCase{"same_file", "zqnlist.Ini", "zqnlist.Ini", false},
                    InstanceCase{"same_file_by_another_path", "zqnlist.Ini", "sub/../zqnlist.Ini", false},
                    InstanceCase{"another_file", "zqnlist.Ini", "sub/zqnlist.Ini", true}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace zqn::app
