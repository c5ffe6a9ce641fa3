#pragma once

#include <netinet/in.h>

#include <atomic>
#include <cstddef>

// Receive storage shared by the UDP endpoints, and the process-wide record that networking is in use.
// POSIX sockets need no start-up, so the record is bookkeeping only.
class SocketBase {
public:
    static constexpr std::size_t kReceiveBufferSize = 102400;

    // Counts this endpoint as using networking and clears the peer address and the receive buffer.
    SocketBase();
    // Uncounts it (there is nothing to clean up).
    virtual ~SocketBase();

    SocketBase(const SocketBase&) = delete;
    SocketBase& operator=(const SocketBase&) = delete;

    // True while at least one endpoint exists in the process.
    static bool NetworkStarted();

protected:
    // Sender of the last datagram received; written on the receiver thread only.
    sockaddr_in peerAddress{};
    // The datagram being handed to the owner; overwritten by the next receive.
    unsigned char receiveBuffer[kReceiveBufferSize];

private:
    static std::atomic<int> endpointsInUse;
};
