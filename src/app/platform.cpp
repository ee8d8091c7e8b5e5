#include "app/platform.h"

#include <QtGlobal>

namespace zqn::app {

bool displayAvailable()
{
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    // A platform chosen by hand (offscreen, vnc, eglfs) needs neither.
    return !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") || !qEnvironmentVariableIsEmpty("DISPLAY")
           || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
#else
    return true;
#endif
}

} // namespace zqn::app
#ifdef Q_OS_UNIX

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace zqn::app {

namespace {

int wakePipe[2] = {-1, -1};

extern "C" void onTerminationSignal(int)
{
    const int savedErrno = errno;
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(wakePipe[1], &byte, 1);
    errno = savedErrno;
}

} // namespace

void installTerminationHandlers()
{
    if (wakePipe[0] >= 0)
        return;
    if (::pipe(wakePipe) != 0)
        return;
    for (const int fd : wakePipe) {
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
    // A file-size limit then fails the write (EFBIG), reported as any failed save, instead of
    // ending the program with what it had not yet written.
    ::signal(SIGXFSZ, SIG_IGN);
}

void watchTerminationSignals(QObject* context, std::function<void()> onTerminate)
{
    if (wakePipe[0] < 0)
        return;
    auto* notifier = new QSocketNotifier(wakePipe[0], QSocketNotifier::Read, context);
    QObject::connect(notifier, &QSocketNotifier::activated, context, [notifier, onTerminate] {
        char drain[64];
        while (::read(wakePipe[0], drain, sizeof drain) > 0) {
        }
        notifier->setEnabled(false);
        onTerminate();
    });
}

} // namespace zqn::app

#else

namespace zqn::app {

void installTerminationHandlers() {}
void watchTerminationSignals(QObject*, std::function<void()>) {}

} // namespace zqn::app

#endif

#ifdef Q_OS_LINUX

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/resource.h>

namespace zqn::app {

storage::Status reserveFileSpace(QFileDevice& file, qint64 size)
{
    const auto failure = [](int error) { return storage::Failure{QString::fromLocal8Bit(std::strerror(error))}; };
    // The limit would stop the write part way, with SIGXFSZ; fallocate keeping the size ignores it.
    rlimit limit {};
    if (::getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY
        && static_cast<rlim_t>(size) > limit.rlim_cur)
        return failure(EFBIG);
    if (size <= 0)
        return {};
    // Keeping the size leaves the file as it is, also when only part of the room could be had.
    if (::fallocate(file.handle(), FALLOC_FL_KEEP_SIZE, 0, size) == 0)
        return {};
    const int error = errno;
    if (error == EOPNOTSUPP || error == ENOSYS)
        return {};
    return failure(error);
}

} // namespace zqn::app

#else

namespace zqn::app {

storage::Status reserveFileSpace(QFileDevice&, qint64)
{
    return {};
}

} // namespace zqn::app

#endif

#ifdef ZQN_HAVE_LIBSYSTEMD

#include <QTimer>

#include <systemd/sd-daemon.h>

#include <algorithm>
#include <chrono>
#include <climits>

namespace zqn::app {

namespace {

void notifyManager(const QByteArray& state)
{
    sd_notify(0, state.constData());
}

QByteArray statusAssignment(const QString& status)
{
    return "STATUS=" + status.toUtf8().replace('\n', ' ');
}

} // namespace

void notifyServiceReady(const QString& status)
{
    notifyManager("READY=1\n" + statusAssignment(status));
}

void notifyServiceStatus(const QString& status)
{
    notifyManager(statusAssignment(status));
}

void notifyServiceStopping()
{
    notifyManager("STOPPING=1");
}

void startServiceWatchdog(QObject* context)
{
    uint64_t usec = 0;
    if (sd_watchdog_enabled(0, &usec) <= 0 || usec == 0)
        return;
    auto* timer = new QTimer(context);
    timer->setInterval(static_cast<int>(std::clamp<uint64_t>(usec / 2000, 1, INT_MAX)));
    QObject::connect(timer, &QTimer::timeout, context, [] { notifyManager("WATCHDOG=1"); });
    timer->start();
}

} // namespace zqn::app

#else

namespace zqn::app {

void notifyServiceReady(const QString&) {}
void notifyServiceStatus(const QString&) {}
void notifyServiceStopping() {}
void startServiceWatchdog(QObject*) {}

} // namespace zqn::app

#endif

#ifdef Q_OS_LINUX

#include <sys/stat.h>
#include <unistd.h>

namespace zqn::app {

bool stderrIsJournalStream()
{
    // systemd names the stream as "device:inode"; stderr may have been redirected since.
    const QByteArray named = qgetenv("JOURNAL_STREAM");
    const qsizetype colon = named.indexOf(':');
    bool deviceRead = false;
    bool inodeRead = false;
    const qulonglong device = named.left(colon).toULongLong(&deviceRead);
    const qulonglong inode = named.mid(colon + 1).toULongLong(&inodeRead);
    struct stat stderrFile {};
    return colon > 0 && deviceRead && inodeRead && ::fstat(STDERR_FILENO, &stderrFile) == 0
           && static_cast<qulonglong>(stderrFile.st_dev) == device && static_cast<qulonglong>(stderrFile.st_ino) == inode;
}

} // namespace zqn::app

#else

namespace zqn::app {

bool stderrIsJournalStream()
{
    return false;
}

} // namespace zqn::app

#endif

// Files served over HTTP by descriptor, and the broken pipes of readers that leave early.
#ifdef Q_OS_UNIX

#include <QFile>

#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zqn::app {

std::optional<ReadableFile> openForServing(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        return std::nullopt;
    }
    return ReadableFile{fd, static_cast<std::uint64_t>(status.st_size)};
}

void closeServable(const ReadableFile& file)
{
    ::close(file.descriptor);
}

bool ignoreBrokenPipes()
{
    return ::signal(SIGPIPE, SIG_IGN) != SIG_ERR;
}

} // namespace zqn::app

#else

namespace zqn::app {

std::optional<ReadableFile> openForServing(const QString&)
{
    return std::nullopt;
}

void closeServable(const ReadableFile&) {}

bool ignoreBrokenPipes()
{
    return false;
}

} // namespace zqn::app

#endif

#ifdef __linux__

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>

namespace zqn::app {

namespace {

// One recvmmsg call takes up to 64 datagrams: one system call where reading them one by one
// takes two or three each.
class RecvmmsgReader final : public discovery::DatagramBatchReader {
public:
    std::intptr_t adopt(std::intptr_t descriptor) override
    {
        return descriptor < 0 ? -1 : ::fcntl(static_cast<int>(descriptor), F_DUPFD_CLOEXEC, 0);
    }

    void release(std::intptr_t descriptor) override { ::close(static_cast<int>(descriptor)); }

    std::size_t read(std::intptr_t descriptor, std::span<discovery::ReceivedDatagram> batch) override
    {
        const std::size_t count = std::min(batch.size(), kMost);
        for (std::size_t i = 0; i < count; ++i) {
            buffers_[i] = {batch[i].bytes, sizeof batch[i].bytes};
            headers_[i] = {};
            headers_[i].msg_hdr.msg_name = &senders_[i];
            headers_[i].msg_hdr.msg_namelen = sizeof senders_[i];
            headers_[i].msg_hdr.msg_iov = &buffers_[i];
            headers_[i].msg_hdr.msg_iovlen = 1;
        }
        int got = 0;
        do
            got = ::recvmmsg(static_cast<int>(descriptor), headers_.data(), static_cast<unsigned>(count), MSG_DONTWAIT,
                             nullptr);
        while (got < 0 && errno == EINTR);
        if (got <= 0)
            return 0;
        for (std::size_t i = 0; i < static_cast<std::size_t>(got); ++i) {
            discovery::ReceivedDatagram& slot = batch[i];
            slot.length = headers_[i].msg_len;
            // Checked per datagram: a longer one fills the buffer and would pass for a whole one.
            slot.truncated = (headers_[i].msg_hdr.msg_flags & MSG_TRUNC) != 0;
            slot.senderIpv4 = ntohl(senders_[i].sin_addr.s_addr);
            slot.senderPort = ntohs(senders_[i].sin_port);
        }
        return static_cast<std::size_t>(got);
    }

private:
    static constexpr std::size_t kMost = 64;
    std::array<mmsghdr, kMost> headers_{};
    std::array<iovec, kMost> buffers_{};
    std::array<sockaddr_in, kMost> senders_{};
};

} // namespace

std::unique_ptr<discovery::DatagramBatchReader> datagramBatchReader()
{
    if (qEnvironmentVariable("ZQN_PORTABLE_RECEIVE") == QLatin1String("1"))
        return nullptr;
    return std::make_unique<RecvmmsgReader>();
}

} // namespace zqn::app

#else

namespace zqn::app {

std::unique_ptr<discovery::DatagramBatchReader> datagramBatchReader()
{
    return nullptr;
}

} // namespace zqn::app

#endif
