#include "web/endpoint.h"

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

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <microhttpd.h>

#include "web/content.h"

namespace zqn::web {

namespace {

constexpr std::string_view kMetricsType = "text/plain; version=0.0.4; charset=utf-8";
constexpr std::string_view kPlainType = "text/plain; charset=utf-8";

// Smaller bodies go as they are: compressing them saves less than it costs.
constexpr std::uint64_t kSmallestCompressed = 1024;

// Both sides of a socket, as shutdown() names them on every platform (SHUT_RDWR, SD_BOTH).
constexpr int kBothDirections = 2;

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
            std::erase(endpoint->waiting_, connection);
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
    if (jsonMaker_.joinable())
        jsonMaker_.join();
    notifier_.reset();
    if (daemon_) {
        // The library cannot stop while a connection is suspended, and lets one go only in a run:
        // the waiting are answered 503 first.
        stopping_ = true;
        for (int pass = 0; pass < 4; ++pass) {
            resumeWaiting();
            MHD_run(daemon_);
        }
        MHD_stop_daemon(daemon_);
    }
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
    unsigned flags = MHD_USE_EPOLL | MHD_USE_ERROR_LOG | MHD_ALLOW_SUSPEND_RESUME;
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
    if (file == File::json && !json_.response && csv_.response && jsonFromCsv_ && !stopping_) {
        if (!jsonMaking_)
            makeJson();
        if (jsonMaking_) {
            MHD_suspend_connection(connection);
            waiting_.push_back(connection);
            return MHD_YES;
        }
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

} // namespace zqn::web
