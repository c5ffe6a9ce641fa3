#include "discovery/udp_broadcast_endpoint.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>
#include <vector>

#include "discovery/datagram_send.h"

namespace {

// a receive that fails for another reason than "nothing there" waits this long before the socket is polled
// again, so a broken socket cannot keep the thread spinning
constexpr int kPauseAfterFailedReceiveMs = 10;
// datagrams taken in one go before the stop event is looked at again
constexpr int kReceivesPerWakeUp = 256;

// closes fd if it is open and marks it closed
void CloseDescriptor(int& fd) {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

sockaddr_in MakeAddress(std::uint32_t hostOrderAddress, std::uint16_t hostOrderPort) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(hostOrderAddress);
    address.sin_port = htons(hostOrderPort);
    return address;
}

struct BroadcastInterface {
    int index;
    in_addr address;
};

// IPv4 interfaces that are up and can broadcast, one per interface index, as the socket's own network
// namespace sees them.
std::vector<BroadcastInterface> ListBroadcastInterfaces(int fd) {
    std::vector<ifreq> requests(32);
    ifconf conf{};
    for (;;) {
        conf.ifc_len = static_cast<int>(requests.size() * sizeof(ifreq));
        conf.ifc_req = requests.data();
        if (ioctl(fd, SIOCGIFCONF, &conf) < 0) {
            return {};
        }
        // a full buffer may have cut the list short
        if (static_cast<std::size_t>(conf.ifc_len) + sizeof(ifreq) <= requests.size() * sizeof(ifreq)) {
            break;
        }
        requests.resize(requests.size() * 2);
    }
    std::vector<BroadcastInterface> found;
    const std::size_t count = static_cast<std::size_t>(conf.ifc_len) / sizeof(ifreq);
    for (std::size_t i = 0; i < count; ++i) {
        ifreq request = requests[i];
        if (request.ifr_addr.sa_family != AF_INET) {
            continue;
        }
        in_addr address;
        std::memcpy(&address, &reinterpret_cast<sockaddr_in*>(&request.ifr_addr)->sin_addr, sizeof address);
        if (ioctl(fd, SIOCGIFFLAGS, &request) < 0) {
            continue;
        }
        const auto flags = request.ifr_flags;
        if (!(flags & IFF_UP) || !(flags & IFF_BROADCAST) || (flags & IFF_LOOPBACK)) {
            continue;
        }
        if (ioctl(fd, SIOCGIFINDEX, &request) < 0) {
            continue;
        }
        const int index = request.ifr_ifindex;
        bool seen = false;
        for (const auto& known : found) {
            seen = seen || known.index == index;
        }
        if (!seen) {
            found.push_back({index, address});
        }
    }
    return found;
}

}  // namespace

UdpBroadcastEndpoint::UdpBroadcastEndpoint()
    : UdpBroadcastEndpoint(INADDR_BROADCAST, kSearchPort, INADDR_ANY, kSearchPort) {}

UdpBroadcastEndpoint::UdpBroadcastEndpoint(std::uint32_t destinationAddress, std::uint16_t destinationPort,
                                           std::uint32_t localAddress, std::uint16_t localPort)
    : destination(MakeAddress(destinationAddress, destinationPort)), local(MakeAddress(localAddress, localPort)) {}

UdpBroadcastEndpoint::~UdpBroadcastEndpoint() {
    Close();
}

int UdpBroadcastEndpoint::Fail(const char* what, int error) {
    lastError = error;
    lastErrorText = std::string(what) + ": " + std::strerror(error);
    CloseDescriptor(stopEventFd);
    CloseDescriptor(socketFd);
    return -1;
}

int UdpBroadcastEndpoint::Open() {
    if (socketFd >= 0) {
        return -1;
    }
    lastError = 0;
    lastErrorText.clear();
    socketFd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (socketFd < 0) {
        return Fail("cannot create a UDP socket", errno);
    }
    const int on = 1;
    if (setsockopt(socketFd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) < 0) {
        return Fail("cannot enable broadcasting", errno);
    }
    // SO_RCVBUF is capped by net.core.rmem_max; SO_RCVBUFFORCE (root only) is not. A smaller buffer still works,
    // it only loses replies sooner, so neither failing is fatal.
    const int wanted = requestedReceiveBuffer;
    setsockopt(socketFd, SOL_SOCKET, SO_RCVBUF, &wanted, sizeof wanted);
    if (SocketReceiveBuffer() < 2 * wanted) {  // Linux reports twice what it grants
        setsockopt(socketFd, SOL_SOCKET, SO_RCVBUFFORCE, &wanted, sizeof wanted);
    }
    // no SO_REUSEADDR: with it a second program could share port 5050 and silently take our unicast replies
    if (bind(socketFd, reinterpret_cast<const sockaddr*>(&local), sizeof local) < 0) {
        const int error = errno;
        const std::string what = "cannot bind UDP port " + std::to_string(ntohs(local.sin_port));
        return Fail(what.c_str(), error);
    }
    stopEventFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (stopEventFd < 0) {
        return Fail("cannot create the stop event", errno);
    }
    stopRequested.store(false);
    try {
        receiver = std::thread(&UdpBroadcastEndpoint::ReceiveLoop, this, socketFd, stopEventFd);
    } catch (const std::system_error& error) {
        return Fail("cannot start the receiver thread", error.code().value());
    }
    return 1;
}

void UdpBroadcastEndpoint::Close() {
    if (receiver.joinable()) {
        stopRequested.store(true);
        const std::uint64_t one = 1;
        while (::write(stopEventFd, &one, sizeof one) < 0 && errno == EINTR) {
        }
        receiver.join();
    }
    // the socket is closed only after the join, so the receiver never sees its descriptor reused
    CloseDescriptor(socketFd);
    CloseDescriptor(stopEventFd);
}

void UdpBroadcastEndpoint::ReceiveLoop(int fd, int stopFd) {
    pollfd watched[2] = {{fd, POLLIN, 0}, {stopFd, POLLIN, 0}};
    for (;;) {
        if (poll(watched, 2, -1) < 0) {
            if (errno != EINTR) {
                poll(&watched[1], 1, kPauseAfterFailedReceiveMs);
            }
            continue;
        }
        if (watched[1].revents != 0 || stopRequested.load()) {
            return;
        }
        if (watched[0].revents == 0) {
            continue;
        }
        for (int i = 0; i < kReceivesPerWakeUp; ++i) {
            socklen_t peerLength = sizeof peerAddress;
            const ssize_t received = recvfrom(fd, receiveBuffer, sizeof receiveBuffer, MSG_DONTWAIT,
                                              reinterpret_cast<sockaddr*>(&peerAddress), &peerLength);
            if (received >= 0) {
                OnReceive(receiveBuffer, static_cast<std::size_t>(received), peerAddress);
                if (stopRequested.load()) {
                    return;
                }
                continue;
            }
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
                if (poll(&watched[1], 1, kPauseAfterFailedReceiveMs) > 0) {
                    return;
                }
            }
            break;
        }
    }
}

void UdpBroadcastEndpoint::OnReceive(const unsigned char*, std::size_t, const sockaddr_in&) {}

int UdpBroadcastEndpoint::Send(const void* data, std::size_t length) {
    if (socketFd < 0) {
        lastError = EBADF;
        return -1;
    }
    if (destination.sin_addr.s_addr == htonl(INADDR_BROADCAST)) {
        return SendBroadcastEveryInterface(data, length);
    }
    return SendToDestination(data, length);
}

int UdpBroadcastEndpoint::SendToDestination(const void* data, std::size_t length) {
    const ssize_t sent =
        sendto(socketFd, data, length, 0, reinterpret_cast<const sockaddr*>(&destination), sizeof destination);
    if (sent < 0) {
        lastError = errno;
        return -1;
    }
    return static_cast<int>(sent);
}

int UdpBroadcastEndpoint::SendBroadcastEveryInterface(const void* data, std::size_t length) {
    const std::vector<BroadcastInterface> interfaces = ListBroadcastInterfaces(socketFd);
    if (interfaces.empty()) {
        // let the routing table decide, as a plain broadcast would
        return SendToDestination(data, length);
    }
    int succeeded = 0;
    for (const auto& interface : interfaces) {
        in_pktinfo info{};
        info.ipi_ifindex = interface.index;
        info.ipi_spec_dst = interface.address;
        if (SendDatagramVia(socketFd, data, length, destination, &info) < 0) {
            lastError = errno;
        } else {
            ++succeeded;
        }
    }
    return succeeded > 0 ? static_cast<int>(length) : -1;
}

std::uint16_t UdpBroadcastEndpoint::LocalPort() const {
    if (socketFd < 0) {
        return 0;
    }
    sockaddr_in bound{};
    socklen_t boundLength = sizeof bound;
    if (getsockname(socketFd, reinterpret_cast<sockaddr*>(&bound), &boundLength) < 0) {
        return 0;
    }
    return ntohs(bound.sin_port);
}

int UdpBroadcastEndpoint::SocketReceiveBuffer() const {
    if (socketFd < 0) {
        return 0;
    }
    int size = 0;
    socklen_t sizeLength = sizeof size;
    if (getsockopt(socketFd, SOL_SOCKET, SO_RCVBUF, &size, &sizeLength) < 0) {
        return 0;
    }
    return size;
}
