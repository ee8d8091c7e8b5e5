#include "storage/file_store.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include "storage/cp932_codec.h"

#include <fcntl.h>
#include <unistd.h>

namespace zqn::storage {

namespace {

// The reason is the system's (strerror), so that a user can tell a permission from a folder.
Failure cannotOpen(const QString& path, const QString& reason)
{
    return {QStringLiteral("ファイル %1 は開けません (%2)").arg(QDir::toNativeSeparators(path), reason)};
}

Failure cannotWrite(const QString& path, const QString& reason)
{
    return {QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path), reason)};
}

SpaceReserver& spaceReserver()
{
    static SpaceReserver reserver;
    return reserver;
}

// The new bytes are gathered first: their length is the space to reserve.
Status rewriteInPlace(const QString& path, const std::function<void(text::ByteSink&)>& produce)
{
    struct ToString final : text::ByteSink {
        std::string bytes;
        void write(std::string_view piece) override { bytes.append(piece); }
    } out;
    produce(out);
    const auto size = static_cast<qint64>(out.bytes.size());

    QFile file(path);
    // Opened without truncating, so that the old bytes stay until the new ones are in; the file is
    // cut to length at the end. Qt truncates a file it opens write-only, and a full disk would
    // then have emptied one that may be written but not read.
    if (!file.open(QIODevice::ReadWrite | QIODevice::ExistingOnly | QIODevice::Unbuffered)) {
        const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CLOEXEC);
        if (fd < 0)
            return cannotWrite(path, file.errorString());
        if (!file.open(fd, QIODevice::WriteOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle)) {
            ::close(fd);
            return cannotWrite(path, file.errorString());
        }
    }
    if (const SpaceReserver& reserve = spaceReserver()) {
        if (const Status reserved = reserve(file, size); !reserved)
            return cannotWrite(path, reserved.error());
    }
    if (file.write(out.bytes.data(), size) != size || !file.resize(size) || !file.flush())
        return cannotWrite(path, file.errorString());
    return {};
}

} // namespace

void setSpaceReserver(SpaceReserver reserver)
{
    spaceReserver() = std::move(reserver);
}

QString nativeName(std::string_view cp932Path)
{
    return fromCp932(cp932Path);
}

bool isRegularFile(const QString& path)
{
    const QFileInfo info(path);
    return info.exists() && info.isFile();
}

bool isRegularFile(std::string_view cp932Path)
{
    return !cp932Path.empty() && isRegularFile(nativeName(cp932Path));
}

Result<std::string> readFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return cannotOpen(path, file.errorString());
    std::string bytes;
    const qint64 size = file.size();
    if (size > 0)
        bytes.reserve(static_cast<std::size_t>(size));
    char buffer[64 * 1024];
    for (;;) {
        const qint64 n = file.read(buffer, sizeof buffer);
        if (n < 0)
            return cannotOpen(path, file.errorString());
        if (n == 0)
            break;
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
    return bytes;
}

Result<std::string> readFile(std::string_view cp932Path)
{
    return readFile(nativeName(cp932Path));
}

Result<std::optional<std::string>> readExistingFile(const QString& path)
{
    if (!isRegularFile(path))
        return std::optional<std::string>();
    Result<std::string> bytes = readFile(path);
    if (!bytes)
        return Failure{bytes.error()};
    return std::optional<std::string>(std::move(bytes).value());
}

Result<std::optional<std::string>> readExistingFile(std::string_view cp932Path)
{
    if (cp932Path.empty())
        return std::optional<std::string>();
    return readExistingFile(nativeName(cp932Path));
}

Status replaceFileWith(const QString& path, const std::function<void(text::ByteSink&)>& produce, bool* inPlace)
{
    if (inPlace)
        *inPlace = false;
    QSaveFile file(path);
    const auto fail = [&] {
        const QString reason = file.errorString();
        file.cancelWriting();
        return cannotWrite(path, reason);
    };
    // Unbuffered: a short write must fail here. Through Qt's buffer, a small file reaches the disk
    // only inside commit(), which renames a cut-off temporary file over the target (Qt 6.4).
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        // A user may be allowed to write the file but not to add one beside it. QSaveFile's own
        // fallback would empty the file first; this one reserves the space before it writes.
        const QFileInfo target(path);
        if (target.isFile() && target.isWritable()) {
            if (inPlace)
                *inPlace = true;
            return rewriteInPlace(path, produce);
        }
        return fail();
    }

    struct ToFile final : text::ByteSink {
        QSaveFile& file;
        bool failed = false;
        explicit ToFile(QSaveFile& f) : file(f) {}
        void write(std::string_view bytes) override
        {
            const auto size = static_cast<qint64>(bytes.size());
            if (!failed && file.write(bytes.data(), size) != size)
                failed = true;
        }
    } out(file);
    produce(out);

    if (out.failed || !file.flush())
        return fail();
    if (!file.commit())
        return cannotWrite(path, file.errorString());
    return {};
}

Status replaceFile(const QString& path, std::string_view bytes)
{
    return replaceFileWith(path, [bytes](text::ByteSink& out) { out.write(bytes); });
}

Status replaceFile(std::string_view cp932Path, std::string_view bytes)
{
    return replaceFile(nativeName(cp932Path), bytes);
}

} // namespace zqn::storage
