// Files: room reserved before a rewrite in place, and files opened for serving by descriptor.
#include "app/platform.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

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

namespace {

// An unnamed file in the temporary folder: gone from disk once its descriptor closes.
int unnamedFile()
{
    QByteArray pattern = QFile::encodeName(QDir::tempPath()) + "/zqnlist-snapshot-XXXXXX";
    const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd >= 0)
        ::unlink(pattern.constData());
    return fd;
}

bool copyAll(int from, int to)
{
    std::string buffer(256 * 1024, '\0');
    for (;;) {
        const ssize_t got = ::read(from, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return false;
        if (got == 0)
            return true;
        for (ssize_t done = 0; done < got;) {
            const ssize_t put = ::write(to, buffer.data() + done, static_cast<std::size_t>(got - done));
            if (put < 0 && errno == EINTR)
                continue;
            if (put <= 0)
                return false;
            done += put;
        }
    }
}

} // namespace

std::optional<ReadableFile> snapshotForServing(const QString& path, SnapshotStore store)
{
    const std::optional<ReadableFile> source = openForServing(path);
    if (!source)
        return std::nullopt;
    int copy = store == SnapshotStore::memory ? ::memfd_create("zqnlist-served", MFD_CLOEXEC) : -1;
    if (copy < 0)
        copy = unnamedFile();
    const bool copied = copy >= 0 && copyAll(source->descriptor, copy);
    closeServable(*source);
    struct stat status {};
    if (!copied || ::fstat(copy, &status) != 0) {
        if (copy >= 0)
            ::close(copy);
        return std::nullopt;
    }
    return ReadableFile{copy, static_cast<std::uint64_t>(status.st_size)};
}

void closeServable(const ReadableFile& file)
{
    ::close(file.descriptor);
}

} // namespace zqn::app
