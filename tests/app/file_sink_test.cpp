#include "app/file_sink.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "storage/cp932_codec.h"
#include "storage/file_store.h"

namespace zqn::app {
namespace {

TEST(StorageFileSink, ReportsFalseAndKeepsEveryFailure)
{
    QTemporaryDir dir;
    const QString missing = dir.filePath("no/such/a.csv");
    StorageFileSink sink;
    EXPECT_FALSE(sink.replace(storage::toCp932(missing), "x"));
    EXPECT_TRUE(sink.replace(storage::toCp932(dir.filePath("a.csv")), "y"));
    EXPECT_EQ(*storage::readFile(dir.filePath("a.csv")), "y");
    EXPECT_FALSE(sink.replace(storage::toCp932(missing), "z"));

    ASSERT_EQ(sink.failures().size(), 2);
    for (const QString& failure : sink.failures())
        EXPECT_TRUE(failure.startsWith(QDir::toNativeSeparators(missing) + QStringLiteral(": "))) << failure.toStdString();
}

} // namespace
} // namespace zqn::app
