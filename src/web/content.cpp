#include "web/content.h"

#include <QCryptographicHash>

#include <algorithm>
#include <cctype>
#include <cerrno>

#include <unistd.h>
#include <zlib.h>

namespace zqn::web {

namespace {

std::string_view trimmed(std::string_view text)
{
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool equalsIgnoringCase(std::string_view a, std::string_view b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
    });
}

// A qvalue in thousandths: "0", "0.5", "1.000" and the like; -1 for anything else.
int qValue(std::string_view text)
{
    if (text.empty() || text.size() > 5 || (text[0] != '0' && text[0] != '1'))
        return -1;
    int q = (text[0] - '0') * 1000;
    if (text.size() > 1) {
        if (text[1] != '.')
            return -1;
        int scale = 100;
        for (const char digit : text.substr(2)) {
            if (digit < '0' || digit > '9')
                return -1;
            q += (digit - '0') * scale;
            scale /= 10;
        }
    }
    return q <= 1000 ? q : -1;
}

// The gzip stream of the pieces read. Made once per version, so zlib's usual level: on the page it
// costs little more time than the fastest and saves a tenth more.
class Gzip {
public:
    Gzip() { ok_ = deflateInit2(&stream_, 6, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) == Z_OK; }
    ~Gzip()
    {
        if (ok_)
            deflateEnd(&stream_);
    }
    Gzip(const Gzip&) = delete;
    Gzip& operator=(const Gzip&) = delete;

    bool add(std::string_view piece, bool last)
    {
        stream_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(piece.data()));
        stream_.avail_in = static_cast<uInt>(piece.size());
        const int flush = last ? Z_FINISH : Z_NO_FLUSH;
        char chunk[64 * 1024];
        do {
            stream_.next_out = reinterpret_cast<Bytef*>(chunk);
            stream_.avail_out = sizeof chunk;
            const int result = deflate(&stream_, flush);
            if (result == Z_STREAM_ERROR)
                return ok_ = false;
            out_.append(chunk, sizeof chunk - stream_.avail_out);
        } while (stream_.avail_out == 0);
        return ok_;
    }
    bool ok() const { return ok_; }
    std::string take() { return std::move(out_); }

private:
    z_stream stream_{};
    std::string out_;
    bool ok_ = false;
};

} // namespace

bool matchesAny(const char* ifNoneMatch, std::string_view etag)
{
    std::string_view rest = ifNoneMatch;
    while (!rest.empty()) {
        const auto comma = rest.find(',');
        std::string_view tag = trimmed(rest.substr(0, comma));
        rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
        if (tag.starts_with("W/"))
            tag.remove_prefix(2);
        if (tag == "*" || tag == etag)
            return true;
    }
    return false;
}

// How much a client wants each coding, in thousandths, as its Accept-Encoding says: a list of
// codings, each with an optional weight (";q=0.5"). Elements that cannot be read are passed over.
Acceptance acceptance(const char* header)
{
    if (!header)
        return {};
    int gzip = -1;
    int identity = -1;
    int any = -1;
    std::string_view rest = header;
    while (!rest.empty()) {
        const auto comma = rest.find(',');
        std::string_view element = rest.substr(0, comma);
        rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
        const auto semicolon = element.find(';');
        const std::string_view coding = trimmed(element.substr(0, semicolon));
        int q = 1000;
        for (std::string_view parameters = semicolon == std::string_view::npos ? std::string_view()
                                                                                : element.substr(semicolon + 1);
             !parameters.empty();) {
            const auto next = parameters.find(';');
            const std::string_view parameter = trimmed(parameters.substr(0, next));
            parameters = next == std::string_view::npos ? std::string_view() : parameters.substr(next + 1);
            if (parameter.size() >= 2 && equalsIgnoringCase(parameter.substr(0, 2), "q="))
                q = qValue(parameter.substr(2));
        }
        if (q < 0 || coding.empty())
            continue;
        if (equalsIgnoringCase(coding, "gzip") || equalsIgnoringCase(coding, "x-gzip"))
            gzip = std::max(gzip, q);
        else if (equalsIgnoringCase(coding, "identity"))
            identity = q;
        else if (coding == "*")
            any = q;
    }
    // Identity is always welcome unless it, or "*" without it, is weighted 0.
    return {gzip >= 0 ? gzip : std::max(any, 0), identity >= 0 ? identity : any == 0 ? 0 : 1000};
}

bool readPieces(int descriptor, std::uint64_t size, const std::function<bool(std::string_view)>& use)
{
    std::string buffer(256 * 1024, '\0');
    for (std::uint64_t offset = 0; offset < size;) {
        const ssize_t got = ::pread(descriptor, buffer.data(),
                                    static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), size - offset)),
                                    static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0 || !use(std::string_view(buffer.data(), static_cast<std::size_t>(got))))
            return false;
        offset += static_cast<std::uint64_t>(got);
    }
    return true;
}

std::string quotedTag(const QByteArray& digest)
{
    return '"' + digest.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals).toStdString() + '"';
}

std::string contentTag(int descriptor, std::uint64_t size)
{
    QCryptographicHash hash(QCryptographicHash::Sha1);
    const bool read = readPieces(descriptor, size, [&hash](std::string_view piece) {
        hash.addData(QByteArrayView(piece.data(), static_cast<qsizetype>(piece.size())));
        return true;
    });
    return read ? quotedTag(hash.result()) : std::string();
}

std::optional<std::string> gzipped(const std::string* bytes, int descriptor, std::uint64_t size)
{
    Gzip gzip;
    bool read = gzip.ok();
    if (read && bytes) {
        read = gzip.add(*bytes, true);
    } else if (read) {
        std::uint64_t done = 0;
        read = readPieces(descriptor, size, [&](std::string_view piece) {
                   done += piece.size();
                   return gzip.add(piece, done == size);
               })
               && (size > 0 || gzip.add({}, true));
    }
    if (!read)
        return std::nullopt;
    return gzip.take();
}

} // namespace zqn::web
