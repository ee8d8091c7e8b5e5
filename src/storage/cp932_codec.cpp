#include "storage/cp932_codec.h"

#include <QStringDecoder>
#include <QStringEncoder>

#include <algorithm>

namespace zqn::storage {

namespace {

// Qt's "windows-31j" is Microsoft's code page 932; glibc's "SHIFT_JIS" would turn 0x5C into a yen sign.
constexpr const char* kCodePage = "windows-31j";

std::string bytesOf(const QByteArray& bytes)
{
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

// Printable ASCII is itself in code page 932 (the converter swaps a few control codes): such text
// needs no converter, whose opening costs more than a short field's conversion.
bool isPrintableAscii(char32_t c)
{
    return c >= 0x20 && c < 0x7F;
}

} // namespace

QString fromCp932(std::string_view bytes)
{
    if (std::all_of(bytes.begin(), bytes.end(), [](char c) { return isPrintableAscii(static_cast<unsigned char>(c)); }))
        return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
    QStringDecoder decode(kCodePage);
    return decode(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
}

std::string toCp932(const QString& text)
{
    if (std::all_of(text.begin(), text.end(), [](QChar c) { return isPrintableAscii(c.unicode()); }))
        return text.toStdString();
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
