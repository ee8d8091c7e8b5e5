#include "storage/file_store.h"

#include "storage/cp932_codec.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/resource.h>
#endif

namespace zqn::storage {
namespace {

class FileStore : public testing::Test {
protected:
    QString path(const QString& name) const { return dir.filePath(name); }
    static std::string cp932(const QString& p) { return toCp932(p); }
    QTemporaryDir dir;
};

TEST_F(FileStore, ReplaceThenReadIsByteExact)
{
    std::string bytes("A\r\n\x83\x5C\0B", 7);
    ASSERT_TRUE(replaceFile(path("a.csv"), bytes));
    EXPECT_EQ(*readFile(path("a.csv")), bytes);
    ASSERT_TRUE(replaceFile(path("a.csv"), ""));
    EXPECT_EQ(*readFile(path("a.csv")), "");
}

TEST_F(FileStore, Cp932PathsAreDecodedNotPassedThrough)
{
    // 表.csv: 95 5C is one character, not a folder separator.
    const std::string name = cp932(dir.path()) + "/\x95\x5C.csv";
    ASSERT_TRUE(replaceFile(std::string_view(name), "x"));
    EXPECT_TRUE(QFile::exists(dir.filePath(QStringLiteral("表.csv"))));
    EXPECT_TRUE(isRegularFile(std::string_view(name)));
    EXPECT_EQ(*readFile(std::string_view(name)), "x");
}

TEST_F(FileStore, RegularFileTestIgnoresFoldersAndEmptyPaths)
{
    ASSERT_TRUE(QDir(dir.path()).mkdir("html.dat"));
    EXPECT_FALSE(isRegularFile(path("html.dat")));
    EXPECT_FALSE(isRegularFile(path("missing")));
    EXPECT_FALSE(isRegularFile(std::string_view()));
    EXPECT_EQ(*readExistingFile(path("html.dat")), std::nullopt);
    EXPECT_EQ(*readExistingFile(path("missing")), std::nullopt);
    EXPECT_EQ(*readExistingFile(std::string_view()), std::nullopt);
}

TEST_F(FileStore, ReadingAMissingFileNamesIt)
{
    const auto read = readFile(path("missing.csv"));
    ASSERT_FALSE(read) << "no error";
    const QString& message = read.error();
    EXPECT_TRUE(message.startsWith(QStringLiteral("ファイル "))) << message.toStdString();
    EXPECT_TRUE(message.endsWith(QStringLiteral(" は開けません"))) << message.toStdString();
    EXPECT_TRUE(message.contains(QStringLiteral("missing.csv"))) << message.toStdString();
}

TEST_F(FileStore, FailedReplaceInAMissingFolderNamesTheFile)
{
    const Status written = replaceFile(path("no/such/a.csv"), "x");
    EXPECT_FALSE(written);
    EXPECT_TRUE(written.error().startsWith(QDir::toNativeSeparators(path("no/such/a.csv")) + QStringLiteral(": ")))
        << written.error().toStdString();
    EXPECT_TRUE(replaceFile(std::string_view(cp932(path("a.csv"))), "y"));
    EXPECT_EQ(*readFile(path("a.csv")), "y");
}

#ifdef Q_OS_UNIX
TEST_F(FileStore, ReplaceFollowsLinksAndKeepsModeBits)
{
    ASSERT_TRUE(replaceFile(path("target.csv"), "old"));
    ASSERT_TRUE(QFile::setPermissions(path("target.csv"), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
    const auto mode = QFile::permissions(path("target.csv"));
    ASSERT_TRUE(QFile::link(path("target.csv"), path("link.csv")));
    ASSERT_TRUE(replaceFile(path("link.csv"), "new"));
    EXPECT_TRUE(QFileInfo(path("link.csv")).isSymLink());
    EXPECT_EQ(*readFile(path("target.csv")), "new");
    EXPECT_EQ(QFile::permissions(path("target.csv")), mode);
    EXPECT_FALSE(mode.testFlag(QFile::ReadOther));
}

// A write that hits the file-size limit fails with EFBIG; the old file stays whole. A small file
// would fit in an I/O buffer and reach the disk only at commit, a large one is written at once.
class FileSizeLimit : public FileStore, public testing::WithParamInterface<std::size_t> {};

TEST_P(FileSizeLimit, WriteBeyondTheLimitLeavesTheOldFileWhole)
{
    const std::size_t newSize = GetParam();
    const std::string old(newSize / 2, 'o');
    ASSERT_TRUE(replaceFile(path("a.csv"), old));

    struct sigaction ignore {};
    struct sigaction previousAction {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGXFSZ, &ignore, &previousAction);
    rlimit previous{};
    getrlimit(RLIMIT_FSIZE, &previous);
    rlimit limited = previous;
    limited.rlim_cur = newSize - 10;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);

    const Status written = replaceFile(std::string_view(cp932(path("a.csv"))), std::string(newSize, 'n'));

    setrlimit(RLIMIT_FSIZE, &previous);
    sigaction(SIGXFSZ, &previousAction, nullptr);

    EXPECT_FALSE(written);
    EXPECT_EQ(*readFile(path("a.csv")), old);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"a.csv"}) << "temporary file left behind";
}

INSTANTIATE_TEST_SUITE_P(Sizes, FileSizeLimit, testing::Values(std::size_t{2000}, std::size_t{64 * 1024}),
                         [](const auto& info) { return std::to_string(info.param) + "_bytes"; });
#endif

} // namespace
} // namespace zqn::storage

namespace zqn::storage {
namespace {

TEST_F(FileStore, PiecesAreWrittenInOrderAndCommittedOnce)
{
    ASSERT_TRUE(replaceFile(path("a.csv"), "old"));
    bool sawOldFileMidway = false;
    ASSERT_TRUE(replaceFileWith(path("a.csv"), [&](text::ByteSink& out) {
        out.write("one,");
        sawOldFileMidway = *readFile(path("a.csv")) == "old";
        out.write("two,");
        out.write("");
        out.write("three");
    }));
    EXPECT_TRUE(sawOldFileMidway) << "the target is replaced only when all pieces are written";
    EXPECT_EQ(*readFile(path("a.csv")), "one,two,three");
}

} // namespace
} // namespace zqn::storage
