#include "app/single_instance.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QLocalServer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <latch>
#include <memory>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "support/only_check.h"

namespace zqn::app {
namespace {

struct InstanceCase {
    const char* name;
    const char* firstPath;
    const char* secondPath; // relative to the same folder
    bool secondRuns;
};

// The temporary and runtime folders are the test's own; settings() is the same file in each launch.
class SingleInstanceSocket : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid() && tmp.isValid() && runtime.isValid());
        qputenv("TMPDIR", QFile::encodeName(tmp.path()));
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    }
    void TearDown() override
    {
        qunsetenv("TMPDIR");
        qunsetenv("XDG_RUNTIME_DIR");
    }
    QString settings() const { return dir.filePath(QStringLiteral("zqnlist.Ini")); }
    // The socket's file name, which anyone can work out.
    QString predictableName() const
    {
        const QString file = QFileInfo(dir.path()).canonicalFilePath() + QStringLiteral("/zqnlist.Ini");
        const QByteArray key = (QDir::homePath() + QLatin1Char('\n') + file).toUtf8();
        return QStringLiteral("zqnlist-")
               + QString::fromLatin1(QCryptographicHash::hash(key, QCryptographicHash::Sha256).toHex().left(32));
    }
    static int boundSocket(const QString& path)
    {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address {};
        address.sun_family = AF_UNIX;
        const QByteArray name = QFile::encodeName(path);
        std::memcpy(address.sun_path, name.constData(), std::min<std::size_t>(name.size(), sizeof address.sun_path - 1));
        EXPECT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
        return fd;
    }
    // A socket at path that answers as nobody, for as long as the descriptor stays open.
    static int listenAsNobody(const QString& path)
    {
        const int fd = boundSocket(path);
        // The socket keeps who listened; only this thread changes who it is.
        EXPECT_EQ(::syscall(SYS_setresuid, -1, kNobody, -1), 0);
        EXPECT_EQ(::listen(fd, 4), 0);
        EXPECT_EQ(::syscall(SYS_setresuid, -1, 0, -1), 0);
        return fd;
    }
    static constexpr uid_t kNobody = 65534;
    QTemporaryDir dir;
    QTemporaryDir tmp;
    QTemporaryDir runtime;
};

class SingleInstanceTest : public SingleInstanceSocket, public testing::WithParamInterface<InstanceCase> {};


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

// Where another local user can listen first, the program still starts.
TEST_F(SingleInstanceSocket, AtTheOldPredictablePlaceDoesNotStopTheProgram)
{
    qunsetenv("XDG_RUNTIME_DIR");
    QLocalServer squatter;
    ASSERT_TRUE(squatter.listen(tmp.filePath(predictableName())));

    SingleInstance instance(settings());
    EXPECT_TRUE(instance.claim());
}

TEST_F(SingleInstanceSocket, InAFolderOfAnotherUserDoesNotStopTheProgram)
{
    if (::geteuid() != 0)
        ZQN_SKIP_ONLY_CHECK("making a folder for another user needs root");
    qunsetenv("XDG_RUNTIME_DIR");
    const QString folder = tmp.filePath(QStringLiteral("zqnlist-%1").arg(::geteuid()));
    // Private, but another user's: root could still listen there, and so answer itself.
    ASSERT_EQ(::mkdir(QFile::encodeName(folder).constData(), 0700), 0);
    ASSERT_EQ(::chown(QFile::encodeName(folder).constData(), kNobody, kNobody), 0);
    QLocalServer squatter;
    ASSERT_TRUE(squatter.listen(folder + QLatin1Char('/') + predictableName()));

    SingleInstance instance(settings());
    EXPECT_TRUE(instance.claim());
}

TEST_F(SingleInstanceSocket, ThatAnotherUserAnswersOnIsTakenOver)
{
    if (::geteuid() != 0)
        ZQN_SKIP_ONLY_CHECK("listening as another user needs root");
    const QString name = SingleInstance::serverName(settings());
    ASSERT_TRUE(name.startsWith(runtime.path())) << name.toStdString() << " " << runtime.path().toStdString();
    const int squatter = listenAsNobody(name);

    SingleInstance instance(settings());
    EXPECT_TRUE(instance.claim());
    ::close(squatter);
}

// Two launches that both find the socket a crashed copy left: one runs, the other leaves.
TEST_F(SingleInstanceSocket, LaunchesAfterACrashEndAsOne)
{
    const QString name = SingleInstance::serverName(settings());
    for (int round = 0; round < 30; ++round) {
        ::close(boundSocket(name));
        ASSERT_TRUE(QFileInfo::exists(name));
        std::latch started(2);
        std::latch claimed(2);
        std::atomic<int> running = 0;
        const auto launch = [&] {
            SingleInstance instance(settings());
            started.arrive_and_wait();
            if (instance.claim())
                ++running;
            claimed.arrive_and_wait(); // the first stays until the second has decided
        };
        std::unique_ptr<QThread> first(QThread::create(launch));
        std::unique_ptr<QThread> second(QThread::create(launch));
        first->start();
        second->start();
        ASSERT_TRUE(first->wait() && second->wait());
        EXPECT_EQ(running.load(), 1) << "round " << round;
    }
}

} // namespace
} // namespace zqn::app
