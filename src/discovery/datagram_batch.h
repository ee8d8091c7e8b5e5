#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "discovery/announcement.h"

namespace zqn::discovery {

// One datagram as a batch read leaves it. A datagram longer than the buffer is marked, so that
// it is dropped rather than taken for a shorter one.
struct ReceivedDatagram {
    std::size_t length = 0;
    bool truncated = false;
    std::uint32_t senderIpv4 = 0; // first octet in the high byte
    std::uint16_t senderPort = 0;
    char bytes[kMaxDatagramLength];
};

// Reads many datagrams per system call from a bound, non-blocking IPv4 datagram socket. Where
// the platform has no such call there is none, and the listener reads through Qt.
class DatagramBatchReader {
public:
    virtual ~DatagramBatchReader() = default;

    // A descriptor of the reader's own for the same socket, which stays bound once the one
    // given is closed; -1 when none could be made.
    virtual std::intptr_t adopt(std::intptr_t descriptor) = 0;
    // Closes a descriptor that adopt returned.
    virtual void release(std::intptr_t descriptor) = 0;
    // Fills batch from the first with the datagrams waiting now, in arrival order, and returns
    // how many; 0 when none waits (or the socket failed).
    virtual std::size_t read(std::intptr_t descriptor, std::span<ReceivedDatagram> batch) = 0;
};

} // namespace zqn::discovery
