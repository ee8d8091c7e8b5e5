#include "app/settings_location.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>


namespace zqn::app {
namespace {

TEST(SettingsLocation, BesideTheExecutableWithIniExtension)
{
    QTemporaryDir dir;
    EXPECT_EQ(settingsFilePath(dir.filePath("zqnlist")), dir.filePath("zqnlist.Ini"));
    EXPECT_EQ(settingsFilePath(dir.filePath("zqnlist.exe")), dir.filePath("zqnlist.Ini"));
}

// A folder the user cannot write to (here one that does not even exist, which holds for root too).
TEST(SettingsLocation, UnwritableFolderFallsBackToTheConfigFolder)
{
    QStandardPaths::setTestModeEnabled(true);
    QTemporaryDir dir;
    const QString executable = dir.filePath("missing-folder/zqnlist");
    const QString path = settingsFilePath(executable);
    EXPECT_TRUE(path.endsWith(QStringLiteral("/zqnlist.Ini"))) << path.toStdString();
    EXPECT_FALSE(path.startsWith(dir.path())) << path.toStdString();
    EXPECT_TRUE(path.startsWith(QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation)));
}

} // namespace
} // namespace zqn::app
