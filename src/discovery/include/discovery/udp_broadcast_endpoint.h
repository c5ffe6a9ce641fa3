#pragma once

// One IPv4 UDP socket on the search port with a receiver thread of its own. Every datagram received is handed,
// on that thread, to the handler the owner installed (SetReceiveHandler); a timer in the same poll lets the
// owner run work on that thread at a given time (ArmTimer + SetTimerHandler), which is how SearchSession sends
// its probes without a thread of its own.
//
// The handlers run on the receiver thread, never on the thread that opened the endpoint. They must not block
// waiting for that thread: Close, called from there, joins the receiver thread. Copy what you keep and return.
//
// Owning an endpoint is enough: its destructor runs Close before anything else of it goes, so an owner that
// declares its handlers' state before the endpoint (or calls Close first in its own destructor) is safe.

#include <netinet/in.h>

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

namespace vantrel {

inline constexpr std::uint16_t kSearchPort = 5050;

// Where an endpoint sends and listens; addresses and ports in host byte order.
struct EndpointAddresses {
    std::uint32_t destinationAddress = INADDR_BROADCAST;  // 255.255.255.255
    std::uint16_t destinationPort = kSearchPort;
    std::uint32_t localAddress = INADDR_ANY;  // every local address
    std::uint16_t localPort = kSearchPort;
};

// One received datagram as the receiver thread hands it over; data is valid only during the call.
struct ReceivedDatagram {
    const unsigned char* data = nullptr;
    std::size_t length = 0;  // 0 or more
    sockaddr_in sender{};
    // The local adapter it arrived on (IP_PKTINFO): interface index, 0 when unknown, and the adapter address
    // the kernel chose for it (ipi_spec_dst, network order).
    int interfaceIndex = 0;
    std::uint32_t localAddress = 0;
    // Kernel receive time (SO_TIMESTAMPNS), nanoseconds since the Unix epoch; 0 when the kernel gave none.
    std::int64_t arrivalNs = 0;
};

class UdpBroadcastEndpoint final {
public:
    // Datagrams up to this size are received whole (a UDP datagram cannot be larger than 64 KiB).
    static constexpr std::size_t kReceiveBufferSize = 102400;
    // Asked for as SO_RCVBUF: a burst of thousands of replies must not overflow the socket.
    static constexpr int kSocketReceiveBuffer = 4 * 1024 * 1024;

    using ReceiveHandler = std::function<void(const ReceivedDatagram&)>;
    using TimerHandler = std::function<void()>;

    // Sends to 255.255.255.255:5050 and listens on port 5050 of every local address.
    UdpBroadcastEndpoint();
    explicit UdpBroadcastEndpoint(const EndpointAddresses& addresses);
    // Runs Close.
    ~UdpBroadcastEndpoint();
    UdpBroadcastEndpoint(const UdpBroadcastEndpoint&) = delete;
    UdpBroadcastEndpoint& operator=(const UdpBroadcastEndpoint&) = delete;

    // Install while closed; they run on the receiver thread.
    void SetReceiveHandler(ReceiveHandler handler) { receiveHandler_ = std::move(handler); }
    void SetTimerHandler(TimerHandler handler) { timerHandler_ = std::move(handler); }

    // Size asked for as SO_RCVBUF by the next Open; only measurements change it.
    void SetRequestedReceiveBuffer(int bytes) { requestedReceiveBuffer_ = bytes; }

    // Binds the socket and starts the receiver thread: 1 on success; -1 when already open (nothing changes) or
    // when the socket, the broadcast option, the bind (port held by another program) or the thread fails, in
    // which case the endpoint stays closed and LastError/LastErrorText say why.
    int Open();

    // Sends one datagram to the destination. For the limited broadcast 255.255.255.255 it goes out of every IPv4
    // interface that is up and can broadcast. Gives length when at least one send succeeded, -1 when none did or
    // the endpoint is not open (errno and LastError say why).
    int Send(const void* data, std::size_t length);
    // Sends one datagram to another address (host byte order), without waiting for socket buffer space: the
    // bytes sent, or -1 with errno set (EAGAIN when the socket's send buffer is full). Any thread.
    int SendTo(const void* data, std::size_t length, std::uint32_t address, std::uint16_t port);
    // Sends one datagram to address:port (host byte order) out of one adapter (interface index), from that
    // adapter's address source (network order, 0 to let the kernel choose), without waiting for buffer space.
    // For a multicast address the adapter is also set as IP_MULTICAST_IF; multicast leaves with TTL 1 and does
    // not loop back. The bytes sent, or -1 with errno set. Receiver thread only.
    int SendVia(const void* data, std::size_t length, std::uint32_t address, std::uint16_t port, int adapterIndex,
                std::uint32_t source);
    // The destination given at construction (host byte order).
    std::uint32_t DestinationAddress() const { return ntohl(destination_.sin_addr.s_addr); }

    // Runs the timer handler once on the receiver thread at this CLOCK_MONOTONIC time in nanoseconds (at once
    // when it has passed); replaces an earlier wake-up; 0 cancels. Any thread, also from the handlers.
    void ArmTimer(std::int64_t monotonicNs);

    // Stops the receiver thread (no handler runs after it returns) and closes the socket; returns within
    // 500 ms as long as the handlers do not block. Does nothing when not open. Call it from the owner's thread,
    // never from a handler.
    void Close();

    // True between a successful Open and Close.
    bool IsOpen() const { return socketFd_ >= 0; }
    // errno of the last failure of Open or Send, 0 if none.
    int LastError() const { return lastError_; }
    // What failed and why, e.g. "cannot bind UDP port 5050: Address already in use"; empty if nothing failed.
    const std::string& LastErrorText() const { return lastErrorText_; }
    // The bound local port (useful after binding port 0), 0 when not open.
    std::uint16_t LocalPort() const;
    // The socket's receive buffer in bytes as the kernel granted it (Linux reports twice the size asked for),
    // 0 when not open.
    int SocketReceiveBuffer() const;

private:
    void ReceiveLoop(int fd, int stopFd, int timerFd);
    // Takes the datagrams waiting on fd; false when the stop event came meanwhile.
    bool ReceiveWaiting(int fd, int stopFd);
    int SendBroadcastEveryInterface(const void* data, std::size_t length);
    // One sendto to the destination; the routing table picks the interface.
    int SendToDestination(const void* data, std::size_t length);
    int Fail(const char* what, int error);

    int socketFd_ = -1;
    int stopEventFd_ = -1;
    int timerFd_ = -1;
    sockaddr_in destination_{};
    sockaddr_in local_{};
    std::thread receiver_;
    int requestedReceiveBuffer_ = kSocketReceiveBuffer;
    std::atomic<bool> stopRequested_{false};
    int lastError_ = 0;
    std::string lastErrorText_;
    ReceiveHandler receiveHandler_;
    TimerHandler timerHandler_;
    // the datagram being handed over; overwritten by the next receive (receiver thread only)
    std::array<unsigned char, kReceiveBufferSize> receiveBuffer_{};
};

}  // namespace vantrel
