#pragma once

#include <netinet/in.h>

#include <atomic>
#include <cstddef>

// Receive storage shared by the UDP endpoints, and the process-wide record that networking is in use.
// POSIX sockets need no start-up, so the record is bookkeeping only.
class SocketBase {
public:
    static constexpr std::size_t kReceiveBufferSize = 102400;

    // Marks networking as started for the process and clears the peer address and the receive buffer.
    SocketBase();
    // Clears the process-wide started mark (there is nothing to clean up).
    virtual ~SocketBase();

    SocketBase(const SocketBase&) = delete;
    SocketBase& operator=(const SocketBase&) = delete;

    // True between the construction of an endpoint and the destruction of one.
    static bool NetworkStarted();

protected:
    // Sender of the last datagram received; written on the receiver thread only.
    sockaddr_in peerAddress{};
    // The datagram being handed to the owner; overwritten by the next receive.
    unsigned char receiveBuffer[kReceiveBufferSize];

private:
    static std::atomic<bool> networkStarted;
};
