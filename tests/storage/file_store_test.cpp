#include "storage/file_store.h"

#include "app/platform.h"

#include "storage/cp932_codec.h"
#include "support/only_check.h"

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
    EXPECT_TRUE(message.endsWith(QStringLiteral(" は開けません (No such file or directory)"))) << message.toStdString();
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

// While this lives, a write past size bytes fails with EFBIG instead of ending the process.
class LimitedFileSize {
public:
    explicit LimitedFileSize(std::size_t size)
    {
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        sigaction(SIGXFSZ, &ignore, &previousAction_);
        getrlimit(RLIMIT_FSIZE, &previous_);
        rlimit limited = previous_;
        limited.rlim_cur = size;
        set_ = setrlimit(RLIMIT_FSIZE, &limited) == 0;
    }
    ~LimitedFileSize()
    {
        setrlimit(RLIMIT_FSIZE, &previous_);
        sigaction(SIGXFSZ, &previousAction_, nullptr);
    }
    bool set() const { return set_; }

private:
    struct sigaction previousAction_ {};
    rlimit previous_{};
    bool set_ = false;
};

// A write that hits the file-size limit fails with EFBIG; the old file stays whole. A small file
// would fit in an I/O buffer and reach the disk only at commit, a large one is written at once.
class FileSizeLimit : public FileStore, public testing::WithParamInterface<std::size_t> {};

TEST_P(FileSizeLimit, WriteBeyondTheLimitLeavesTheOldFileWhole)
{
    const std::size_t newSize = GetParam();
    const std::string old(newSize / 2, 'o');
    ASSERT_TRUE(replaceFile(path("a.csv"), old));

    Status written;
    {
        const LimitedFileSize limit(newSize - 10);
        ASSERT_TRUE(limit.set());
        written = replaceFile(std::string_view(cp932(path("a.csv"))), std::string(newSize, 'n'));
    }

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

#ifdef Q_OS_LINUX
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/fsuid.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zqn::storage {
namespace {

// Root may write anywhere. While this lives, the thread's file accesses are checked as nobody's.
class AsNobody {
public:
    static constexpr uid_t kNobody = 65534;
    AsNobody()
    {
        if (::geteuid() != 0)
            return; // already a user the permissions apply to
        ::setfsgid(kNobody);
        ::setfsuid(kNobody);
        switched_ = true;
    }
    ~AsNobody()
    {
        if (switched_) {
            ::setfsuid(0);
            ::setfsgid(0);
        }
    }
    // setfsuid with an invalid id changes nothing and returns the current one.
    bool unprivileged() const { return !switched_ || ::setfsuid(static_cast<uid_t>(-1)) == static_cast<int>(kNobody); }

private:
    bool switched_ = false;
};

struct FolderCase {
    const char* name;
    mode_t folderMode;
    mode_t fileMode;
    bool throughLink;      // saved by a link that lives elsewhere
    std::size_t sizeLimit; // 0: none; else the write stops short there
    bool saved;
    bool inPlace; // the same file, not a new one renamed over it
    bool reserved = false; // the platform's space reservation is in use
    bool fullDisk = false;  // the folder is a small file system with no block left
};

// A file system of 256 KiB over folder while this lives.
class SmallTmpfs {
public:
    explicit SmallTmpfs(const QString& folder)
        : at_(QFile::encodeName(folder))
        , mounted_(::mount("tmpfs", at_.constData(), "tmpfs", 0, "size=256k") == 0)
        , error_(errno)
    {
    }
    ~SmallTmpfs()
    {
        if (mounted_)
            ::umount2(at_.constData(), MNT_DETACH);
    }
    bool mounted() const { return mounted_; }
    const char* error() const { return std::strerror(error_); }

    // Writes name until no block is left.
    static void fill(const QString& name)
    {
        const int fd = ::open(QFile::encodeName(name).constData(), O_WRONLY | O_CREAT, 0600);
        ASSERT_GE(fd, 0);
        const std::string block(4096, 'f');
        while (::write(fd, block.data(), block.size()) > 0) {
        }
        EXPECT_EQ(errno, ENOSPC);
        ::close(fd);
    }

private:
    QByteArray at_;
    bool mounted_;
    int error_;
};

// While this lives, rewrites in place reserve their space as the programs do.
class Reserving {
public:
    explicit Reserving(bool on)
    {
        if (on)
            setSpaceReserver(&app::reserveFileSpace);
    }
    ~Reserving() { setSpaceReserver({}); }
};

class SaveAsUser : public FileStore, public testing::WithParamInterface<FolderCase> {};

TEST_P(SaveAsUser, ReplacesAtomicallyWhereTheFolderAllowsElseInPlace)
{
    const FolderCase& c = GetParam();
    const QString folder = path("folder");
    const QString target = folder + "/a.csv";
    const QByteArray folderName = QFile::encodeName(folder);
    const QByteArray targetName = QFile::encodeName(target);
    ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
    ASSERT_TRUE(QDir().mkdir(folder));
    std::optional<SmallTmpfs> disk;
    if (c.fullDisk && !disk.emplace(folder).mounted())
        ZQN_SKIP_ONLY_CHECK("a tmpfs cannot be mounted here: " << disk->error());
    ASSERT_TRUE(replaceFile(target, "old content"));
    if (disk)
        SmallTmpfs::fill(folder + "/.filler"); // hidden: not among the files checked below
    QString savedPath = target;
    if (c.throughLink) {
        savedPath = path("link.csv");
        ASSERT_TRUE(QFile::link(target, savedPath));
    }
    ASSERT_EQ(::chmod(targetName.constData(), c.fileMode), 0);
    ASSERT_EQ(::chmod(folderName.constData(), c.folderMode), 0);
    struct stat before {};
    ASSERT_EQ(::stat(targetName.constData(), &before), 0);

    const std::string bytes(64 * 1024, 'n');
    Status written;
    {
        const AsNobody user;
        ASSERT_TRUE(user.unprivileged());
        const Reserving reserving(c.reserved);
        std::optional<LimitedFileSize> limit;
        if (c.sizeLimit) {
            limit.emplace(c.sizeLimit);
            ASSERT_TRUE(limit->set());
        }
        written = replaceFile(savedPath, bytes);
    }
    ::chmod(folderName.constData(), 0755);

    EXPECT_EQ(written.ok(), c.saved) << written.error().toStdString();
    // Rewritten in place, a file cut short cannot be helped; the failure is reported.
    EXPECT_EQ(*readFile(target), c.saved                        ? bytes
                                 : c.sizeLimit && !c.reserved ? bytes.substr(0, c.sizeLimit)
                                                              : "old content");
    struct stat after {};
    ASSERT_EQ(::stat(targetName.constData(), &after), 0);
    EXPECT_EQ(after.st_ino == before.st_ino, c.inPlace);
    EXPECT_EQ(after.st_mode & 07777, c.fileMode);
    EXPECT_EQ(QFileInfo(savedPath).isSymLink(), c.throughLink);
    EXPECT_EQ(QDir(folder).entryList(QDir::Files), QStringList{"a.csv"}) << "temporary file left behind";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SaveAsUser,
    testing::Values(FolderCase{"writable_folder_replaced_atomically", 0777, 0666, false, 0, true, false},
                    FolderCase{"only_the_file_writable_rewritten_in_place", 0555, 0666, false, 0, true, true},
                    FolderCase{"link_to_such_a_file_followed", 0555, 0666, true, 0, true, true},
                    FolderCase{"short_write_in_place_reported", 0555, 0666, false, 1000, false, true},
                    FolderCase{"reserved_first_the_limit_leaves_the_file_whole", 0555, 0666, false, 1000, false,
                               true, true},
                    FolderCase{"reserved_first_saved", 0555, 0666, true, 0, true, true, true},
                    FolderCase{"reserved_first_a_full_disk_leaves_the_file_whole", 0555, 0666, false, 0, false,
                               true, true, true},
                    FolderCase{"reserved_first_a_full_disk_leaves_a_write_only_file_whole", 0555, 0222, false, 0,
                               false, true, true, true},
                    FolderCase{"neither_writable_reported", 0555, 0444, false, 0, false, true}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace zqn::storage
#endif
