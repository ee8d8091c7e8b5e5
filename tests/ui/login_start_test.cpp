#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "app/settings_location.h"
#include "ui/login_start.h"

namespace zqn::ui {
namespace {

// Every case gets a configuration folder of its own; QStandardPaths reads the variable on each call.
class LoginStartTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(home.isValid());
        previous = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", home.path().toLocal8Bit());
    }
    void TearDown() override { qputenv("XDG_CONFIG_HOME", previous); }

    QTemporaryDir home;
    QByteArray previous;
};

// Each settings file has a program of its own, and so an entry of its own.
TEST_F(LoginStartTest, EachSettingsFileHasItsOwnEntryThatStartsThisExecutableWithIt)
{
    const QString first = home.filePath(QStringLiteral("first.Ini"));
    const QString second = home.filePath(QStringLiteral("second.Ini"));
    ASSERT_NE(loginStartEntryPath(first), loginStartEntryPath(second));
    EXPECT_TRUE(loginStartEntryPath(first).startsWith(home.filePath(QStringLiteral("autostart/io.github.zqnlist.ZqnList-"))));

    QString error;
    ASSERT_TRUE(setLaunchAtLogin(first, true, &error)) << error.toStdString();
    ASSERT_TRUE(setLaunchAtLogin(second, true, &error)) << error.toStdString();
    EXPECT_EQ(QDir(home.filePath(QStringLiteral("autostart"))).entryList(QDir::Files).size(), 2);
    QFile entry(loginStartEntryPath(second));
    ASSERT_TRUE(entry.open(QIODevice::ReadOnly));
    const QByteArray text = entry.readAll();
    EXPECT_TRUE(text.startsWith("[Desktop Entry]\n"));
    EXPECT_TRUE(text.contains("\nExec=\"" + QCoreApplication::applicationFilePath().toUtf8() + "\" \"--settings\" \""
                              + second.toUtf8() + "\"\n"))
        << text.toStdString();
    EXPECT_TRUE(text.contains("\nPath=" + QDir::currentPath().toUtf8() + "\n")) << "relative files are found there";
    entry.close();

    ASSERT_TRUE(setLaunchAtLogin(first, false, &error)) << error.toStdString();
    EXPECT_FALSE(launchesAtLogin(first));
    EXPECT_TRUE(launchesAtLogin(second)) << "the other copy's entry stays";
    EXPECT_TRUE(setLaunchAtLogin(first, false, &error)) << "turning off what is off is no failure";
}

// A shared entry that starts the executable without options belongs to the copy that uses the
// settings file found without options; turning the option off removes it.
TEST_F(LoginStartTest, ASharedEntryCountsForTheUsualSettingsFile)
{
    const QString defaultSettings = app::settingsFilePath(QCoreApplication::applicationFilePath());
    const QString shared = home.filePath(QStringLiteral("autostart/io.github.zqnlist.ZqnList.desktop"));
    ASSERT_TRUE(QDir().mkpath(home.filePath(QStringLiteral("autostart"))));
    QFile file(shared);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[Desktop Entry]\nExec=\"" + QCoreApplication::applicationFilePath().toUtf8() + "\"\n");
    file.close();

    EXPECT_TRUE(launchesAtLogin(defaultSettings));
    EXPECT_FALSE(launchesAtLogin(home.filePath(QStringLiteral("other.Ini"))));
    QString error;
    ASSERT_TRUE(setLaunchAtLogin(defaultSettings, false, &error)) << error.toStdString();
    EXPECT_FALSE(QFile::exists(shared));
    EXPECT_FALSE(launchesAtLogin(defaultSettings));
}

TEST_F(LoginStartTest, AFolderThatCannotBeMadeIsReportedWithItsPath)
{
    // A regular file where the configuration folder should be stops even root.
    const QString blocker = home.filePath(QStringLiteral("config"));
    QFile file(blocker);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    qputenv("XDG_CONFIG_HOME", blocker.toLocal8Bit());

    QString error;
    const QString settings = home.filePath(QStringLiteral("zqnlist.Ini"));
    EXPECT_FALSE(setLaunchAtLogin(settings, true, &error));
    EXPECT_TRUE(error.startsWith(blocker + QStringLiteral("/autostart: "))) << error.toStdString();
    EXPECT_FALSE(launchesAtLogin(settings));
}

struct EntryCase {
    const char* name;
    const char* program;
    const char* settings;
    const char* execLine;
    const char* folder;
    const char* pathLine;
};

class EntryLines : public testing::TestWithParam<EntryCase> {};

// The program is quoted for the command line, then escaped as a string value (a backslash in its
// path is four); the folder is escaped as a string value. The entry stays valid.
TEST_P(EntryLines, RunExactlyTheProgramInTheWorkingFolder)
{
    const EntryCase& c = GetParam();
    const QByteArray entry = loginStartEntry(QString::fromUtf8(c.program), QString::fromUtf8(c.settings), QString::fromUtf8(c.folder));
    EXPECT_TRUE(entry.contains(QByteArray("\nExec=") + c.execLine + "\n")) << entry.toStdString();
    EXPECT_TRUE(entry.contains(QByteArray("\nPath=") + c.pathLine + "\n")) << entry.toStdString();

    if (!QFileInfo(QStringLiteral("/usr/bin/desktop-file-validate")).isExecutable())
        GTEST_SKIP() << "desktop-file-validate is not installed (package desktop-file-utils)";
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("io.github.zqnlist.ZqnList.desktop")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(entry);
    file.close();
    QProcess validate;
    validate.setProcessChannelMode(QProcess::MergedChannels);
    validate.start(QStringLiteral("/usr/bin/desktop-file-validate"), {file.fileName()});
    ASSERT_TRUE(validate.waitForFinished());
    EXPECT_EQ(validate.exitCode(), 0) << validate.readAll().toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Paths, EntryLines,
    testing::Values(EntryCase{"Reserved", R"(/my tools/a"b$c`d\e%f/zqnlist)", "/s/1.Ini",
                              R"("/my tools/a\\"b\\$c\\`d\\\\e%%f/zqnlist" "--settings" "/s/1.Ini")", R"(/my data\x%1)",
                              R"(/my data\\x%1)"},
                    EntryCase{"Japanese", "/home/ユーザー/zqnlist", "/home/ユーザー/監視 %u.Ini",
                              R"("/home/ユーザー/zqnlist" "--settings" "/home/ユーザー/監視 %%u.Ini")", "/home/ユーザー/監視",
                              "/home/ユーザー/監視"},
                    EntryCase{"LeadingSpaceAndBreaks", "/a\nb/zqnlist", "/a.Ini", R"("/a\nb/zqnlist" "--settings" "/a.Ini")",
                              " a\tb\nc", R"(\sa\tb\nc)"}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace zqn::ui
