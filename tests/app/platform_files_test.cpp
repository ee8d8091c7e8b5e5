#include "app/platform.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <string>

#include <unistd.h>

namespace zqn::app {
namespace {

std::string readAll(const ReadableFile& file)
{
    std::string bytes(file.size, '\0');
    EXPECT_EQ(::pread(file.descriptor, bytes.data(), bytes.size(), 0), static_cast<ssize_t>(bytes.size()));
    return bytes;
}

class Snapshot : public testing::TestWithParam<SnapshotStore> {};

// The file is rewritten in place, as a save in a folder that takes no new file does it.
TEST_P(Snapshot, KeepsTheBytesAsTheyWereWhenTheFileIsRewrittenInPlace)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("page.htm");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("first version, the longer one");
    file.close();

    const auto copy = snapshotForServing(path, GetParam());
    ASSERT_TRUE(copy);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    file.write("second");
    file.resize(6);
    file.close();

    EXPECT_EQ(readAll(*copy), "first version, the longer one");
    const auto live = openForServing(path);
    ASSERT_TRUE(live);
    EXPECT_EQ(readAll(*live), "second");
    closeServable(*live);
    closeServable(*copy);
    EXPECT_FALSE(snapshotForServing(dir.filePath("none"), GetParam()));
}

INSTANTIATE_TEST_SUITE_P(Stores, Snapshot, testing::Values(SnapshotStore::memory, SnapshotStore::unnamedFile));

} // namespace
} // namespace zqn::app
