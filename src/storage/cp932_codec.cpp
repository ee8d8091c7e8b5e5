#include "storage/cp932_codec.h"

#include <QStringDecoder>
#include <QStringEncoder>

namespace zqn::storage {

namespace {

// Qt's "windows-31j" is Microsoft's code page 932; glibc's "SHIFT_JIS" would turn 0x5C into a yen sign.
constexpr const char* kCodePage = "windows-31j";

std::string bytesOf(const QByteArray& bytes)
{
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
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
    return bytesOf(encode(text));
}

std::optional<std::string> toCp932Exactly(const QString& text)
{
    QStringEncoder encode(kCodePage);
    const QByteArray bytes = encode(text);
    // The decoding check also catches a one-way "best fit" mapping, which raises no error.
    if (encode.hasError() || fromCp932(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size()))) != text)
        return std::nullopt;
    return bytesOf(bytes);
}

} // namespace zqn::storage
