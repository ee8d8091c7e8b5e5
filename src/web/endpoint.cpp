#include "web/endpoint.h"

#include <cerrno>

#include <QCryptographicHash>
#include <QHostAddress>
#include <QSocketNotifier>
#include <QtEndian>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string_view>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <microhttpd.h>
#include <zlib.h>

namespace zqn::web {

namespace {

constexpr std::string_view kPageType = "text/html; charset=Shift_JIS";
constexpr std::string_view kCsvType = "text/csv; charset=Shift_JIS";
constexpr std::string_view kJsonType = "application/json; charset=utf-8";
constexpr std::string_view kMetricsType = "text/plain; version=0.0.4; charset=utf-8";
constexpr std::string_view kPlainType = "text/plain; charset=utf-8";

// Smaller bodies go as they are: compressing them saves less than it costs.
constexpr std::uint64_t kSmallestCompressed = 1024;

// Both sides of a socket, as shutdown() names them on every platform (SHUT_RDWR, SD_BOTH).
constexpr int kBothDirections = 2;

const char* contentType(Endpoint::File file)
{
    switch (file) {
    case Endpoint::File::page:
        return kPageType.data();
    case Endpoint::File::csv:
        return kCsvType.data();
    case Endpoint::File::json:
        break;
    }
    return kJsonType.data();
}

// A response made for one answer; the library keeps it until it is sent.
MHD_Result queueText(MHD_Connection* connection, unsigned status, std::string_view text,
                     std::string_view type = kPlainType, const char* allow = nullptr)
{
    MHD_Response* response =
        MHD_create_response_from_buffer(text.size(), const_cast<char*>(text.data()), MHD_RESPMEM_MUST_COPY);
    if (!response)
        return MHD_NO;
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, std::string(type).c_str());
    if (allow)
        MHD_add_response_header(response, MHD_HTTP_HEADER_ALLOW, allow);
    const MHD_Result queued = MHD_queue_response(connection, status, response);
    MHD_destroy_response(response);
    return queued;
}

std::string_view trimmed(std::string_view text)
{
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// If-None-Match holds "*" or a comma-separated list of entity tags, weak ones prefixed "W/".
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

bool isReadOnly(const char* method)
{
    return std::strcmp(method, MHD_HTTP_METHOD_GET) == 0 || std::strcmp(method, MHD_HTTP_METHOD_HEAD) == 0;
}

// Where the system has no IPv6 at all, every address means every IPv4 one; any other failure
// of a dual-stack socket would meet IPv4 alone too.
bool hasIPv6()
{
    const int probe = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (probe >= 0) {
        ::close(probe);
        return true;
    }
    return errno != EAFNOSUPPORT && errno != EPROTONOSUPPORT;
}

// Reads the file behind descriptor piece by piece, each given to use; false when it cannot be read
// or use says stop.
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

// A validator from the bytes themselves; empty when the file cannot be read.
std::string contentTag(int descriptor, std::uint64_t size)
{
    QCryptographicHash hash(QCryptographicHash::Sha1);
    const bool read = readPieces(descriptor, size, [&hash](std::string_view piece) {
        hash.addData(QByteArrayView(piece.data(), static_cast<qsizetype>(piece.size())));
        return true;
    });
    return read ? quotedTag(hash.result()) : std::string();
}

void deleteBytes(void* bytes)
{
    delete static_cast<std::string*>(bytes);
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

// How much a client wants each coding, in thousandths, as its Accept-Encoding says: a list of
// codings, each with an optional weight (";q=0.5"). Elements that cannot be read are passed over.
struct Acceptance {
    int gzip = 0;
    int identity = 1000;
};

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

struct Callbacks {
    static MHD_Result request(void* self, MHD_Connection* connection, const char* url, const char* method,
                              const char*, const char*, std::size_t* uploadDataSize, void** requestState)
    {
        auto* endpoint = static_cast<Endpoint*>(self);
        if (!*requestState) {
            *requestState = endpoint;
            // The library closes a connection that is answered before its request is read
            // whole; that suits a method that is refused anyway.
            if (!isReadOnly(method))
                return static_cast<MHD_Result>(endpoint->answer(connection, url, method));
            return MHD_YES;
        }
        if (*uploadDataSize != 0) {
            *uploadDataSize = 0; // a body is never wanted
            return MHD_YES;
        }
        endpoint->track(connection, true);
        return static_cast<MHD_Result>(endpoint->answer(connection, url, method));
    }

    // The library's own connection limit takes its listening socket out of its watch, so that a
    // newcomer would wait unanswered in the queue: the limit is kept here, and a newcomer over it
    // is closed at once.
    static MHD_Result accept(void* self, const sockaddr*, socklen_t)
    {
        auto* endpoint = static_cast<Endpoint*>(self);
        return endpoint->connections_.size() < endpoint->limits_.connections ? MHD_YES : MHD_NO;
    }

    static void connection(void* self, MHD_Connection* connection, void**, MHD_ConnectionNotificationCode event)
    {
        auto* endpoint = static_cast<Endpoint*>(self);
        if (event == MHD_CONNECTION_NOTIFY_STARTED) {
            endpoint->connections_[connection] = {endpoint->clock_.elapsed()};
        } else {
            endpoint->connections_.erase(connection);
            endpoint->closedInRun_ = true;
        }
    }

    static void completed(void* self, MHD_Connection* connection, void**, MHD_RequestTerminationCode)
    {
        // A kept-alive connection now waits for its next request, under the same limit.
        static_cast<Endpoint*>(self)->track(connection, false);
    }

    static void log(void* self, const char* format, va_list arguments)
    {
        char line[512];
        std::vsnprintf(line, sizeof line, format, arguments);
        static_cast<Endpoint*>(self)->lastLog_ = QString::fromLocal8Bit(line).trimmed();
    }
};

Endpoint::Endpoint(std::function<Metrics()> metrics, QObject* parent)
    : QObject(parent)
    , metrics_(std::move(metrics))
{
    clock_.start();
    timeout_.setSingleShot(true);
    connect(&timeout_, &QTimer::timeout, this, &Endpoint::run);
    stallCheck_.setInterval(1000);
    connect(&stallCheck_, &QTimer::timeout, this, &Endpoint::dropStalledConnections);
}

Endpoint::~Endpoint()
{
    notifier_.reset();
    if (daemon_)
        MHD_stop_daemon(daemon_);
    withdraw(File::page);
    withdraw(File::csv);
    withdraw(File::json);
}

QString Endpoint::listen(const QString& host, quint16 port, bool brokenPipeIgnored, const Limits& limits)
{
    if (daemon_)
        return QStringLiteral("already listening");
    if (MHD_is_feature_supported(MHD_FEATURE_EPOLL) != MHD_YES)
        return QStringLiteral("this system's HTTP library cannot share the program's event loop");
    limits_ = limits;

    sockaddr_storage address{};
    unsigned flags = MHD_USE_EPOLL | MHD_USE_ERROR_LOG;
    if (!host.isEmpty()) {
        QHostAddress parsed;
        if (!parsed.setAddress(host))
            return QStringLiteral("%1 is not an IP address").arg(host);
        if (parsed.protocol() == QAbstractSocket::IPv4Protocol) {
            auto* in = reinterpret_cast<sockaddr_in*>(&address);
            in->sin_family = AF_INET;
            in->sin_port = qToBigEndian(port);
            in->sin_addr.s_addr = qToBigEndian(parsed.toIPv4Address());
        } else {
            auto* in6 = reinterpret_cast<sockaddr_in6*>(&address);
            in6->sin6_family = AF_INET6;
            in6->sin6_port = qToBigEndian(port);
            const Q_IPV6ADDR bytes = parsed.toIPv6Address();
            std::memcpy(&in6->sin6_addr, bytes.c, sizeof bytes.c);
            flags |= MHD_USE_IPv6;
        }
    }

    const auto start = [&](unsigned startFlags) {
        lastLog_.clear();
        return MHD_start_daemon(
            startFlags, port, &Callbacks::accept, this, &Callbacks::request, this,
            MHD_OPTION_CONNECTION_LIMIT, limits.connections + 1,
            MHD_OPTION_PER_IP_CONNECTION_LIMIT, limits.connectionsPerAddress,
            MHD_OPTION_CONNECTION_TIMEOUT, static_cast<unsigned>(limits.requestSeconds),
            // Room for the request's header and the answer's; the exact header limit is checked
            // on each request.
            MHD_OPTION_CONNECTION_MEMORY_LIMIT, 2 * limits.headerBytes + 4096,
            MHD_OPTION_NOTIFY_CONNECTION, &Callbacks::connection, this,
            MHD_OPTION_NOTIFY_COMPLETED, &Callbacks::completed, this,
            MHD_OPTION_EXTERNAL_LOGGER, &Callbacks::log, this,
            MHD_OPTION_SIGPIPE_HANDLED_BY_APP, brokenPipeIgnored ? 1 : 0,
            host.isEmpty() ? MHD_OPTION_END : MHD_OPTION_SOCK_ADDR, reinterpret_cast<sockaddr*>(&address),
            MHD_OPTION_END);
    };
    // Every address: IPv6 and IPv4 on one socket where the system has IPv6.
    daemon_ = start(host.isEmpty() ? flags | MHD_USE_DUAL_STACK : flags);
    if (!daemon_ && host.isEmpty() && !hasIPv6())
        daemon_ = start(flags);
    listenErrno_ = daemon_ ? 0 : errno;
    if (!daemon_)
        return lastLog_.isEmpty() ? QStringLiteral("the HTTP library could not start") : lastLog_;

    notifier_ = std::make_unique<QSocketNotifier>(MHD_get_daemon_info(daemon_, MHD_DAEMON_INFO_EPOLL_FD)->epoll_fd,
                                                  QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &Endpoint::run);
    run();
    return {};
}

quint16 Endpoint::port() const
{
    return daemon_ ? MHD_get_daemon_info(daemon_, MHD_DAEMON_INFO_BIND_PORT)->port : 0;
}

void Endpoint::run()
{
    closedInRun_ = false;
    MHD_run(daemon_);
    MHD_UNSIGNED_LONG_LONG ms = 0;
    // The library puts its listening socket back into its watch only when a run starts: after a
    // run that freed a place, no newcomer could wake the next one.
    if (closedInRun_)
        timeout_.start(0);
    else if (MHD_get_timeout(daemon_, &ms) == MHD_YES)
        timeout_.start(static_cast<int>(std::min<MHD_UNSIGNED_LONG_LONG>(ms, INT_MAX)));
    else
        timeout_.stop();
    if (connections_.empty() == stallCheck_.isActive())
        connections_.empty() ? stallCheck_.stop() : stallCheck_.start();
}

void Endpoint::track(MHD_Connection* connection, bool answering)
{
    if (const auto known = connections_.find(connection); known != connections_.end()) {
        known->second.since = clock_.elapsed();
        known->second.answering = answering;
    }
}

// The library drops a connection only after a pause: one that trickles its request, or reads its
// answer, a byte at a time would hold its place for ever.
void Endpoint::dropStalledConnections()
{
    const std::int64_t now = clock_.elapsed();
    bool dropped = false;
    for (auto& [connection, state] : connections_) {
        const int seconds = state.answering ? limits_.responseSeconds : limits_.requestSeconds;
        if (state.dropped || now - state.since < std::int64_t{seconds} * 1000)
            continue;
        state.dropped = true;
        const int fd = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD)->connect_fd;
        // What the socket still holds of an answer could take as long again to drain: the close
        // resets the connection instead.
        if (state.answering) {
            const linger reset{1, 0};
            ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
        }
        // The library sees the end of the stream and closes the connection itself.
        ::shutdown(fd, kBothDirections);
        dropped = true;
    }
    if (dropped)
        run();
}

int Endpoint::answer(MHD_Connection* connection, const char* url, const char* method)
{
    const MHD_ConnectionInfo* header = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_REQUEST_HEADER_SIZE);
    if (header && header->header_size > limits_.headerBytes)
        return queueText(connection, MHD_HTTP_REQUEST_HEADER_FIELDS_TOO_LARGE, "Request header too large\n");

    const std::string_view path = url;
    const bool known = path == "/" || path == "/devices.csv" || path == "/devices.json" || path == "/metrics";
    if (!known)
        return queueText(connection, MHD_HTTP_NOT_FOUND, "Not found\n");
    if (!isReadOnly(method))
        return queueText(connection, MHD_HTTP_METHOD_NOT_ALLOWED, "Only GET and HEAD\n", kPlainType, "GET, HEAD");

    if (path == "/metrics")
        return queueText(connection, MHD_HTTP_OK, metricsText(metrics_()), kMetricsType);
    return answerFile(connection, path == "/" ? File::page : path == "/devices.csv" ? File::csv : File::json);
}

int Endpoint::answerFile(MHD_Connection* connection, File file)
{
    if (file == File::json && !json_.response && csv_.response && jsonFromCsv_) {
        std::string csv;
        if (csv_.bytes)
            csv = *csv_.bytes;
        else if (!readPieces(csv_.descriptor, csv_.size, [&csv](std::string_view piece) {
                     csv.append(piece);
                     return true;
                 }))
            csv.clear();
        serve(File::json, jsonFromCsv_(csv));
    }
    Served& served = this->served(file);
    if (!served.response)
        return queueText(connection, MHD_HTTP_SERVICE_UNAVAILABLE, "Not written yet\n");
    const Acceptance accepted =
        acceptance(MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_ACCEPT_ENCODING));
    const bool small = served.size < kSmallestCompressed && accepted.identity > 0;
    const bool gzip = accepted.gzip > 0 && accepted.gzip >= accepted.identity && !small
                      && (served.gzip || compress(file));
    if (!gzip && accepted.identity == 0)
        return queueText(connection, MHD_HTTP_NOT_ACCEPTABLE, "Only gzip or identity\n");
    const std::string& etag = gzip ? served.gzipEtag : served.etag;

    if (const char* ifNoneMatch = MHD_lookup_connection_value(connection, MHD_HEADER_KIND,
                                                              MHD_HTTP_HEADER_IF_NONE_MATCH);
        ifNoneMatch && matchesAny(ifNoneMatch, etag)) {
        MHD_Response* notModified = MHD_create_response_from_buffer(0, nullptr, MHD_RESPMEM_PERSISTENT);
        if (!notModified)
            return MHD_NO;
        MHD_add_response_header(notModified, MHD_HTTP_HEADER_ETAG, etag.c_str());
        MHD_add_response_header(notModified, MHD_HTTP_HEADER_CACHE_CONTROL, "no-cache");
        MHD_add_response_header(notModified, MHD_HTTP_HEADER_VARY, MHD_HTTP_HEADER_ACCEPT_ENCODING);
        const MHD_Result queued = MHD_queue_response(connection, MHD_HTTP_NOT_MODIFIED, notModified);
        MHD_destroy_response(notModified);
        return queued;
    }
    return MHD_queue_response(connection, MHD_HTTP_OK, gzip ? served.gzip : served.response);
}

// Made once per version and held beside it; readers of an older version keep theirs until done.
bool Endpoint::compress(File file)
{
    Served& served = this->served(file);
    Gzip gzip;
    bool read = gzip.ok();
    if (read && served.bytes) {
        read = gzip.add(*served.bytes, true);
    } else if (read) {
        std::uint64_t done = 0;
        read = readPieces(served.descriptor, served.size, [&](std::string_view piece) {
                   done += piece.size();
                   return gzip.add(piece, done == served.size);
               })
               && (served.size > 0 || gzip.add({}, true));
    }
    if (!read)
        return false;
    auto* bytes = new std::string(gzip.take());
    bytes->shrink_to_fit();
    MHD_Response* response =
        MHD_create_response_from_buffer_with_free_callback_cls(bytes->size(), bytes->data(), &deleteBytes, bytes);
    if (!response) {
        delete bytes;
        return false;
    }
    served.gzipEtag = served.etag.substr(0, served.etag.size() - 1) + "-gzip\"";
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_ENCODING, "gzip");
    MHD_add_response_header(response, MHD_HTTP_HEADER_ETAG, served.gzipEtag.c_str());
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, contentType(file));
    MHD_add_response_header(response, MHD_HTTP_HEADER_CACHE_CONTROL, "no-cache");
    MHD_add_response_header(response, MHD_HTTP_HEADER_VARY, MHD_HTTP_HEADER_ACCEPT_ENCODING);
    served.gzip = response;
    return true;
}

bool Endpoint::serve(File file, int descriptor, std::uint64_t size)
{
    withdraw(file);
    std::string etag = contentTag(descriptor, size);
    if (etag.empty())
        return false;
    // One response for every reader: the library reads the file at each reader's own offset, so
    // the bytes are held by the file system, never once per reader.
    MHD_Response* response = MHD_create_response_from_fd64(size, descriptor);
    if (!response)
        return false;
    Served version;
    version.response = response;
    version.etag = std::move(etag);
    version.size = size;
    version.descriptor = descriptor;
    return publish(file, std::move(version));
}

bool Endpoint::serve(File file, std::string bytes)
{
    withdraw(file);
    auto* held = new std::string(std::move(bytes));
    MHD_Response* response =
        MHD_create_response_from_buffer_with_free_callback_cls(held->size(), held->data(), &deleteBytes, held);
    if (!response) {
        delete held;
        return false;
    }
    std::string etag = quotedTag(QCryptographicHash::hash(QByteArrayView(held->data(), qsizetype(held->size())),
                                                          QCryptographicHash::Sha1));
    Served version;
    version.response = response;
    version.etag = std::move(etag);
    version.size = held->size();
    version.bytes = held;
    return publish(file, std::move(version));
}

bool Endpoint::publish(File file, Served version)
{
    MHD_add_response_header(version.response, MHD_HTTP_HEADER_CONTENT_TYPE, contentType(file));
    MHD_add_response_header(version.response, MHD_HTTP_HEADER_CACHE_CONTROL, "no-cache");
    MHD_add_response_header(version.response, MHD_HTTP_HEADER_ETAG, version.etag.c_str());
    MHD_add_response_header(version.response, MHD_HTTP_HEADER_VARY, MHD_HTTP_HEADER_ACCEPT_ENCODING);
    served(file) = std::move(version);
    return true;
}

void Endpoint::withdraw(File file)
{
    if (file == File::csv)
        withdraw(File::json);
    Served& target = served(file);
    // Readers still being served keep the old version until they are done.
    if (target.response)
        MHD_destroy_response(target.response);
    if (target.gzip)
        MHD_destroy_response(target.gzip);
    target = {};
}

} // namespace zqn::web
