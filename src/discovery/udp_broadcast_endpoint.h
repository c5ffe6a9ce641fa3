#pragma once

// OnReceive runs on the endpoint's own receiver thread, never on the thread that opened it. It must not block
// waiting for the UI thread: Close, called from there, joins the receiver thread. Copy what you keep, queue it
// to the UI thread and return.

#include <netinet/in.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <thread>

#include "discovery/socket_base.h"

// One IPv4 UDP socket that broadcasts to the search port and hands every datagram it receives to OnReceive.
class UdpBroadcastEndpoint : public SocketBase {
public:
    static constexpr std::uint16_t kSearchPort = 5050;
    // Asked for as SO_RCVBUF: a burst of thousands of replies must not overflow the socket.
    static constexpr int kSocketReceiveBuffer = 4 * 1024 * 1024;

    // Sends to 255.255.255.255:5050 and listens on port 5050 of every local address.
    UdpBroadcastEndpoint();
    // Other addresses for tests (for example 127.0.0.1 and port 0); addresses and ports in host byte order.
    UdpBroadcastEndpoint(std::uint32_t destinationAddress, std::uint16_t destinationPort, std::uint32_t localAddress,
                         std::uint16_t localPort);
    // Runs Close.
    ~UdpBroadcastEndpoint() override;

    // Size asked for as SO_RCVBUF by the next Open; only measurements change it.
    void SetRequestedReceiveBuffer(int bytes) { requestedReceiveBuffer = bytes; }

    // Binds the socket and starts the receiver thread: 1 on success; -1 when already open (nothing changes) or
    // when the socket, the broadcast option, the bind (port held by another program) or the thread fails, in
    // which case the endpoint stays closed and LastError/LastErrorText say why.
    int Open();

    // Sends one datagram to the destination. For the limited broadcast 255.255.255.255 it goes out of every IPv4
    // interface that is up and can broadcast. Gives length when at least one send succeeded, -1 when none did or
    // the endpoint is not open.
    int Send(const void* data, std::size_t length);

    // Stops the receiver thread (no OnReceive runs after it returns) and closes the socket; returns within
    // 500 ms as long as OnReceive does not block. Does nothing when not open. Call it from the owner's thread,
    // never from OnReceive; a derived class calls it in its own destructor, before its members go.
    void Close();

    // True between a successful Open and Close.
    bool IsOpen() const { return socketFd >= 0; }
    // errno of the last failure of Open or Send, 0 if none.
    int LastError() const { return lastError; }
    // What failed and why, e.g. "cannot bind UDP port 5050: Address already in use"; empty if nothing failed.
    const std::string& LastErrorText() const { return lastErrorText; }
    // The bound local port (useful after binding port 0), 0 when not open.
    std::uint16_t LocalPort() const;
    // The socket's receive buffer in bytes as the kernel granted it (Linux reports twice the size asked for),
    // 0 when not open.
    int SocketReceiveBuffer() const;

protected:
    // One datagram, in place in the receive buffer (0 or more bytes), with its sender; on the receiver thread.
    virtual void OnReceive(const unsigned char* data, std::size_t length, const sockaddr_in& sender);

private:
    void ReceiveLoop(int fd, int stopFd);
    int SendBroadcastEveryInterface(const void* data, std::size_t length);
    // One sendto to the destination; the routing table picks the interface.
    int SendToDestination(const void* data, std::size_t length);
    int Fail(const char* what, int error);

    int socketFd = -1;
    sockaddr_in destination{};
    sockaddr_in local{};
    std::thread receiver;
    int stopEventFd = -1;
    int requestedReceiveBuffer = kSocketReceiveBuffer;
    std::atomic<bool> stopRequested{false};
    int lastError = 0;
    std::string lastErrorText;
};
