// Receive baseline: the plainest loop that reads announcement datagrams off a UDP port, with the
// same kernel receive buffer the monitor asks for. What it receives of a burst is what any
// single-threaded reader could have had; the monitor's share of that is the figure of interest.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// As the monitor's listener asks; the kernel grants it only up to net.core.rmem_max.
constexpr int kSocketReceiveBufferBytes = 4 * 1024 * 1024;
constexpr std::size_t kShortFormLength = 182;
constexpr std::size_t kMacOffset = 14;
constexpr std::size_t kMacLength = 6;

struct Options {
    unsigned port = 0;
    std::uint64_t expect = 0;   // stop after this many datagrams; 0: only silence stops
    double silenceSeconds = 2;  // stop after this long without a datagram, once one arrived
    double firstWaitSeconds = 30; // give up if nothing arrives at all within this
    double mostSeconds = 120;     // a sender that never stops cannot keep the loop going
    unsigned batch = 1;           // datagrams per receive call; above 1, recvmmsg
};

// As the monitor's batched listener reads: 2048 bytes per datagram, 64 per call at most.
constexpr std::size_t kBatchBufferBytes = 2048;
constexpr unsigned kMostBatch = 64;

[[noreturn]] void usage(const char* why)
{
    std::fprintf(stderr,
                 "zqn-recv-baseline: %s\n"
                 "usage: zqn-recv-baseline --port P [--expect N] [--silence S] [--first-wait S] [--most S] [--batch B]\n"
                 "Binds 0.0.0.0:P with a 4 MiB receive buffer, reads datagrams until N have arrived or S\n"
                 "seconds pass without one, and prints how many arrived and how many distinct MACs they\n"
                 "carried; never runs longer than --most seconds (default 120). Prints 'listening' once\n"
                 "bound. --batch B (2-64) reads up to B datagrams per recvmmsg call into 2048-byte\n"
                 "buffers instead of one per recvfrom. Also prints the CPU time the loop took.\n",
                 why);
    std::exit(2);
}

Options parse(int argc, char** argv)
{
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (i + 1 >= argc)
            usage("every option takes a value");
        const char* value = argv[++i];
        char* end = nullptr;
        errno = 0;
        if (arg == "--port")
            o.port = static_cast<unsigned>(std::strtoul(value, &end, 10));
        else if (arg == "--expect")
            o.expect = std::strtoull(value, &end, 10);
        else if (arg == "--silence")
            o.silenceSeconds = std::strtod(value, &end);
        else if (arg == "--first-wait")
            o.firstWaitSeconds = std::strtod(value, &end);
        else if (arg == "--most")
            o.mostSeconds = std::strtod(value, &end);
        else if (arg == "--batch")
            o.batch = static_cast<unsigned>(std::strtoul(value, &end, 10));
        else
            usage("unknown option");
        if (errno != 0 || end == value || *end != '\0')
            usage("bad number");
    }
    if (o.port == 0 || o.port > 0xFFFF)
        usage("--port must be 1-65535");
    if (o.batch < 1 || o.batch > kMostBatch)
        usage("--batch must be 1-64");
    if (o.silenceSeconds <= 0 || o.firstWaitSeconds <= 0 || o.mostSeconds <= 0)
        usage("waits must be positive");
    return o;
}

// The six MAC octets as one number: offsets 14-19, or FF FF FF 00 and offsets 4-5 for the short
// form. Only for counting distinct senders; no filtering, as the receive cost is what is measured.
std::uint64_t macKeyOf(const unsigned char* bytes, std::size_t length)
{
    std::uint64_t key = 0;
    if (length == kShortFormLength)
        return (std::uint64_t{0xFFFFFF00} << 16) | (std::uint64_t{bytes[4]} << 8) | bytes[5];
    for (std::size_t i = 0; i < kMacLength; ++i)
        key = (key << 8) | (kMacOffset + i < length ? bytes[kMacOffset + i] : 0);
    return key;
}

double cpuSeconds()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Up to kMostBatch datagrams per call, each into a buffer of its own.
class BatchReceiver {
public:
    explicit BatchReceiver(unsigned batch) : batch_(batch), buffers_(batch * kBatchBufferBytes)
    {
        for (unsigned i = 0; i < batch_; ++i)
            vectors_[i] = {&buffers_[i * kBatchBufferBytes], kBatchBufferBytes};
    }
    // Datagrams received, or -1 when none waits.
    int receive(int fd)
    {
        for (unsigned i = 0; i < batch_; ++i) {
            headers_[i] = {};
            headers_[i].msg_hdr.msg_name = &senders_[i];
            headers_[i].msg_hdr.msg_namelen = sizeof senders_[i];
            headers_[i].msg_hdr.msg_iov = &vectors_[i];
            headers_[i].msg_hdr.msg_iovlen = 1;
        }
        return ::recvmmsg(fd, headers_, batch_, MSG_DONTWAIT, nullptr);
    }
    const unsigned char* bytes(int i) const { return &buffers_[static_cast<std::size_t>(i) * kBatchBufferBytes]; }
    std::size_t length(int i) const { return headers_[i].msg_len; }

private:
    unsigned batch_;
    std::vector<unsigned char> buffers_;
    mmsghdr headers_[kMostBatch]{};
    iovec vectors_[kMostBatch]{};
    sockaddr_in senders_[kMostBatch]{};
};

int millisecondsLeft(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::max<long long>(left, 0));
}

} // namespace

int main(int argc, char** argv)
{
    const Options options = parse(argc, argv);

    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        std::perror("socket");
        return 1;
    }
    int wanted = kSocketReceiveBufferBytes;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &wanted, sizeof wanted);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(static_cast<std::uint16_t>(options.port));
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        std::perror("bind");
        return 1;
    }
    int granted = 0;
    socklen_t grantedSize = sizeof granted;
    ::getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &granted, &grantedSize);
    std::printf("listening on port %u, receive buffer %d bytes\n", options.port, granted);
    std::fflush(stdout);

    std::vector<std::uint64_t> macs;
    macs.reserve(options.expect > 0 ? options.expect : 1 << 20);
    unsigned char buffer[65536];
    BatchReceiver batch(options.batch);
    std::uint64_t received = 0;
    Clock::time_point first{}, last{};
    const auto seconds = [](double s) {
        return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(s));
    };
    const auto silence = seconds(options.silenceSeconds);
    const auto hardStop = Clock::now() + seconds(options.mostSeconds);
    auto deadline = std::min(Clock::now() + seconds(options.firstWaitSeconds), hardStop);
    bool overrun = false;

    while ((options.expect == 0 || received < options.expect) && !overrun) {
        pollfd ready{fd, POLLIN, 0};
        const int polled = ::poll(&ready, 1, millisecondsLeft(deadline));
        if (polled < 0 && errno == EINTR)
            continue;
        if (polled <= 0)
            break; // silence (or a poll failure, which ends the count the same way)
        while (options.batch > 1 && (options.expect == 0 || received < options.expect)) {
            const int n = batch.receive(fd);
            if (n <= 0)
                break; // drained (EAGAIN) or a failed receive; poll again
            last = Clock::now();
            if (received == 0)
                first = last;
            received += static_cast<std::uint64_t>(n);
            for (int i = 0; i < n; ++i)
                macs.push_back(macKeyOf(batch.bytes(i), batch.length(i)));
            if (last > hardStop) {
                overrun = true;
                break;
            }
        }
        while (options.batch == 1 && (options.expect == 0 || received < options.expect)) {
            sockaddr_in from{};
            socklen_t fromSize = sizeof from;
            const ssize_t n = ::recvfrom(fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &fromSize);
            if (n < 0)
                break; // drained (EAGAIN) or a failed receive; poll again
            last = Clock::now();
            if (received == 0)
                first = last;
            ++received;
            macs.push_back(macKeyOf(buffer, static_cast<std::size_t>(n)));
            if (last > hardStop) {
                overrun = true;
                break;
            }
        }
        if (received > 0)
            deadline = std::min(last + silence, hardStop);
    }
    const double cpu = cpuSeconds();
    ::close(fd);

    std::sort(macs.begin(), macs.end());
    const auto distinct = static_cast<std::uint64_t>(std::unique(macs.begin(), macs.end()) - macs.begin());
    const double spread = std::chrono::duration<double>(last - first).count();
    std::printf("received %llu datagrams, %llu distinct MACs, first to last %.3f s, CPU %.3f s\n",
                static_cast<unsigned long long>(received), static_cast<unsigned long long>(distinct), spread, cpu);
    return 0;
}
