#include "app/settings_location.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <unistd.h>

namespace zqn::app {
namespace {

TEST(SettingsLocation, BesideTheExecutableWithIniExtension)
{
    QTemporaryDir dir;
    EXPECT_EQ(settingsFilePath(dir.filePath("zqnlist")), dir.filePath("zqnlist.Ini"));
    EXPECT_EQ(settingsFilePath(dir.filePath("zqnlist.exe")), dir.filePath("zqnlist.Ini"));
}

TEST(SettingsLocation, UnwritableFolderFallsBackToTheConfigFolder)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root can write to every folder";
    QTemporaryDir dir;
    QStandardPaths::setTestModeEnabled(true);
    QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner);
    const QString path = settingsFilePath(dir.filePath("zqnlist"));
    QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    EXPECT_TRUE(path.endsWith(QStringLiteral("/zqnlist.Ini")));
    EXPECT_FALSE(path.startsWith(dir.path()));
}

} // namespace
} // namespace zqn::app
