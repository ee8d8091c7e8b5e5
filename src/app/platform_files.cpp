// Files: room reserved before a rewrite in place, and files opened for serving by descriptor.
#include "app/platform.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
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

void closeServable(const ReadableFile& file)
{
    ::close(file.descriptor);
}

} // namespace zqn::app
