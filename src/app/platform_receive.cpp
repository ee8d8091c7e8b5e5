// The listener's batched receive.
#include "app/platform.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>

namespace zqn::app {

namespace {

// One recvmmsg call takes up to 64 datagrams: one system call where reading them one by one
// takes two or three each.
class RecvmmsgReader final : public discovery::DatagramBatchReader {
public:
    std::intptr_t adopt(std::intptr_t descriptor) override
    {
        return descriptor < 0 ? -1 : ::fcntl(static_cast<int>(descriptor), F_DUPFD_CLOEXEC, 0);
    }

    void release(std::intptr_t descriptor) override { ::close(static_cast<int>(descriptor)); }

    std::size_t read(std::intptr_t descriptor, std::span<discovery::ReceivedDatagram> batch) override
    {
        const std::size_t count = std::min(batch.size(), kMost);
        for (std::size_t i = 0; i < count; ++i) {
            buffers_[i] = {batch[i].bytes, sizeof batch[i].bytes};
            headers_[i] = {};
            headers_[i].msg_hdr.msg_name = &senders_[i];
            headers_[i].msg_hdr.msg_namelen = sizeof senders_[i];
            headers_[i].msg_hdr.msg_iov = &buffers_[i];
            headers_[i].msg_hdr.msg_iovlen = 1;
        }
        int got = 0;
        do
            got = ::recvmmsg(static_cast<int>(descriptor), headers_.data(), static_cast<unsigned>(count), MSG_DONTWAIT,
                             nullptr);
        while (got < 0 && errno == EINTR);
        if (got <= 0)
            return 0;
        for (std::size_t i = 0; i < static_cast<std::size_t>(got); ++i) {
            discovery::ReceivedDatagram& slot = batch[i];
            slot.length = headers_[i].msg_len;
            // Checked per datagram: a longer one fills the buffer and would pass for a whole one.
            slot.truncated = (headers_[i].msg_hdr.msg_flags & MSG_TRUNC) != 0;
            slot.senderIpv4 = ntohl(senders_[i].sin_addr.s_addr);
            slot.senderPort = ntohs(senders_[i].sin_port);
        }
        return static_cast<std::size_t>(got);
    }

private:
    static constexpr std::size_t kMost = 64;
    std::array<mmsghdr, kMost> headers_{};
    std::array<iovec, kMost> buffers_{};
    std::array<sockaddr_in, kMost> senders_{};
};

} // namespace

std::unique_ptr<discovery::DatagramBatchReader> datagramBatchReader()
{
    return std::make_unique<RecvmmsgReader>();
}

} // namespace zqn::app
