#include "storage/file_store.h"

#include <QFile>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>
#include <QStringEncoder>

namespace zqn::storage {

namespace {

// Qt's "windows-31j" is Microsoft's code page 932; glibc's "SHIFT_JIS" would turn 0x5C into a yen sign.
constexpr const char* kCodePage = "windows-31j";

QString cannotOpenMessage(const QString& path)
{
    return QStringLiteral("ファイル %1 は開けません").arg(QDir::toNativeSeparators(path));
}

} // namespace

QString fromCp932(std::string_view bytes)
{
    QStringDecoder decode(kCodePage);
    return decode(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
}

std::string toCp932(const QString& text)
{
    QStringEncoder encode(kCodePage);
    const QByteArray bytes = encode(text);
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
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

std::string readFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw FileError(cannotOpenMessage(path).toStdString());
    std::string bytes;
    const qint64 size = file.size();
    if (size > 0)
        bytes.reserve(static_cast<std::size_t>(size));
    char buffer[64 * 1024];
    for (;;) {
        const qint64 n = file.read(buffer, sizeof buffer);
        if (n < 0)
            throw FileError(cannotOpenMessage(path).toStdString());
        if (n == 0)
            break;
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
    return bytes;
}

std::string readFile(std::string_view cp932Path)
{
    return readFile(nativeName(cp932Path));
}

std::optional<std::string> readExistingFile(const QString& path)
{
    if (!isRegularFile(path))
        return std::nullopt;
    return readFile(path);
}

std::optional<std::string> readExistingFile(std::string_view cp932Path)
{
    if (cp932Path.empty())
        return std::nullopt;
    return readExistingFile(nativeName(cp932Path));
}

void replaceFileWith(const QString& path, const std::function<void(report::ByteSink&)>& produce)
{
    QSaveFile file(path);
    const auto fail = [&] {
        const QString reason = file.errorString();
        file.cancelWriting();
        throw FileError(QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path), reason).toStdString());
    };
    // Unbuffered: a short write must fail here. Through Qt's buffer, a small file reaches the disk
    // only inside commit(), which renames a cut-off temporary file over the target (Qt 6.4).
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        fail();

    struct ToFile final : report::ByteSink {
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
        fail();
    if (!file.commit())
        throw FileError(QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path), file.errorString()).toStdString());
}

void replaceFile(const QString& path, std::string_view bytes)
{
    replaceFileWith(path, [bytes](report::ByteSink& out) { out.write(bytes); });
}

void replaceFile(std::string_view cp932Path, std::string_view bytes)
{
    replaceFile(nativeName(cp932Path), bytes);
}

bool FileReplacer::replace(std::string_view cp932Path, std::string_view bytes)
{
    return replaceWith(cp932Path, [bytes](report::ByteSink& out) { out.write(bytes); });
}

bool FileReplacer::replaceWith(std::string_view cp932Path, const std::function<void(report::ByteSink&)>& produce)
{
    try {
        replaceFileWith(nativeName(cp932Path), produce);
        return true;
    } catch (const FileError&) {
        return false;
    }
}

} // namespace zqn::storage
