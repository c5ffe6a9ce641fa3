#include "discovery/udp_broadcast_endpoint.h"
#include "files/file_read.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/timerfd.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>
#include <vector>

#include "discovery/datagram_send.h"

namespace vantrel {
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

UdpBroadcastEndpoint::UdpBroadcastEndpoint() : UdpBroadcastEndpoint(EndpointAddresses()) {}

UdpBroadcastEndpoint::UdpBroadcastEndpoint(const EndpointAddresses& addresses)
    : destination_(MakeAddress(addresses.destinationAddress, addresses.destinationPort)),
      local_(MakeAddress(addresses.localAddress, addresses.localPort)) {}

UdpBroadcastEndpoint::~UdpBroadcastEndpoint() {
    Close();
}

int UdpBroadcastEndpoint::Fail(const char* what, int error) {
    lastError_ = error;
    lastErrorText_ = std::string(what) + ": " + std::strerror(error);
    CloseDescriptor(timerFd_);
    CloseDescriptor(stopEventFd_);
    CloseDescriptor(socketFd_);
    return -1;
}

int UdpBroadcastEndpoint::Open() {
    if (socketFd_ >= 0) {
        return -1;
    }
    lastError_ = 0;
    lastErrorText_.clear();
    socketFd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (socketFd_ < 0) {
        return Fail("cannot create a UDP socket", errno);
    }
    const int on = 1;
    if (setsockopt(socketFd_, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) < 0) {
        return Fail("cannot enable broadcasting", errno);
    }
    // the arrival adapter and the kernel's receive time come with each datagram; without them the owner only
    // loses those details, so failing here is not fatal
    setsockopt(socketFd_, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
    setsockopt(socketFd_, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
    // WS-Discovery multicast stays on the link (TTL 1) and our own probes do not come back to us
    const unsigned char ttl = 1;
    const unsigned char noLoop = 0;
    setsockopt(socketFd_, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl);
    setsockopt(socketFd_, IPPROTO_IP, IP_MULTICAST_LOOP, &noLoop, sizeof noLoop);
    // SO_RCVBUF is capped by net.core.rmem_max; SO_RCVBUFFORCE (root only) is not. A smaller buffer still works,
    // it only loses replies sooner, so neither failing is fatal.
    const int wanted = requestedReceiveBuffer_;
    setsockopt(socketFd_, SOL_SOCKET, SO_RCVBUF, &wanted, sizeof wanted);
    if (SocketReceiveBuffer() < 2 * wanted) {  // Linux reports twice what it grants
        setsockopt(socketFd_, SOL_SOCKET, SO_RCVBUFFORCE, &wanted, sizeof wanted);
    }
    // no SO_REUSEADDR: with it a second program could share port 5050 and silently take our unicast replies
    if (bind(socketFd_, reinterpret_cast<const sockaddr*>(&local_), sizeof local_) < 0) {
        const int error = errno;
        const std::string what = "cannot bind UDP port " + std::to_string(ntohs(local_.sin_port));
        return Fail(what.c_str(), error);
    }
    stopEventFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (stopEventFd_ < 0) {
        return Fail("cannot create the stop event", errno);
    }
    timerFd_ = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
    if (timerFd_ < 0) {
        return Fail("cannot create the timer", errno);
    }
    stopRequested_.store(false);
    try {
        receiver_ = std::thread(&UdpBroadcastEndpoint::ReceiveLoop, this, socketFd_, stopEventFd_, timerFd_);
    } catch (const std::system_error& error) {
        return Fail("cannot start the receiver thread", error.code().value());
    }
    return 1;
}

void UdpBroadcastEndpoint::Close() {
    if (receiver_.joinable()) {
        stopRequested_.store(true);
        const std::uint64_t one = 1;
        WriteAll(stopEventFd_, &one, sizeof one);
        receiver_.join();
    }
    // the descriptors are closed only after the join, so the receiver never sees one reused
    CloseDescriptor(socketFd_);
    CloseDescriptor(stopEventFd_);
    CloseDescriptor(timerFd_);
}

void UdpBroadcastEndpoint::ArmTimer(std::int64_t monotonicNs) {
    if (timerFd_ < 0) {
        return;
    }
    itimerspec when{};
    if (monotonicNs > 0) {
        when.it_value.tv_sec = static_cast<time_t>(monotonicNs / 1000000000);
        when.it_value.tv_nsec = static_cast<long>(monotonicNs % 1000000000);
    }
    // an absolute time already past fires at once; a zero it_value disarms
    timerfd_settime(timerFd_, TFD_TIMER_ABSTIME, &when, nullptr);
}

void UdpBroadcastEndpoint::ReceiveLoop(int fd, int stopFd, int timerFd) {
    pollfd watched[3] = {{fd, POLLIN, 0}, {stopFd, POLLIN, 0}, {timerFd, POLLIN, 0}};
    for (;;) {
        if (poll(watched, 3, -1) < 0) {
            if (errno != EINTR) {
                poll(&watched[1], 1, kPauseAfterFailedReceiveMs);
            }
            continue;
        }
        if (watched[1].revents != 0 || stopRequested_.load()) {
            return;
        }
        if (watched[2].revents != 0) {
            std::uint64_t expirations = 0;
            if (::read(timerFd, &expirations, sizeof expirations) > 0 && timerHandler_) {
                timerHandler_();
            }
        }
        if (watched[0].revents != 0 && !ReceiveWaiting(fd, stopFd)) {
            return;
        }
    }
}

bool UdpBroadcastEndpoint::ReceiveWaiting(int fd, int stopFd) {
    ReceivedDatagram datagram;
    alignas(cmsghdr) unsigned char control[CMSG_SPACE(sizeof(in_pktinfo)) + CMSG_SPACE(sizeof(timespec))];
    for (int i = 0; i < kReceivesPerWakeUp; ++i) {
        iovec part{receiveBuffer_.data(), receiveBuffer_.size()};
        msghdr message{};
        message.msg_name = &datagram.sender;
        message.msg_namelen = sizeof datagram.sender;
        message.msg_iov = &part;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        const ssize_t received = recvmsg(fd, &message, MSG_DONTWAIT);
        if (received < 0) {
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
                pollfd stop{stopFd, POLLIN, 0};
                if (poll(&stop, 1, kPauseAfterFailedReceiveMs) > 0) {
                    return false;
                }
            }
            return true;
        }
        datagram.data = receiveBuffer_.data();
        datagram.length = static_cast<std::size_t>(received);
        datagram.interfaceIndex = 0;
        datagram.localAddress = 0;
        datagram.arrivalNs = 0;
        for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
            if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
                in_pktinfo info;
                std::memcpy(&info, CMSG_DATA(c), sizeof info);
                datagram.interfaceIndex = info.ipi_ifindex;
                datagram.localAddress = info.ipi_spec_dst.s_addr;
            } else if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
                timespec at;
                std::memcpy(&at, CMSG_DATA(c), sizeof at);
                datagram.arrivalNs = std::int64_t{at.tv_sec} * 1000000000 + at.tv_nsec;
            }
        }
        if (receiveHandler_) {
            receiveHandler_(datagram);
        }
        if (stopRequested_.load()) {
            return false;
        }
    }
    return true;
}

int UdpBroadcastEndpoint::Send(const void* data, std::size_t length) {
    if (socketFd_ < 0) {
        lastError_ = EBADF;
        errno = EBADF;
        return -1;
    }
    if (destination_.sin_addr.s_addr == htonl(INADDR_BROADCAST)) {
        return SendBroadcastEveryInterface(data, length);
    }
    return SendToDestination(data, length);
}

int UdpBroadcastEndpoint::SendTo(const void* data, std::size_t length, std::uint32_t address, std::uint16_t port) {
    if (socketFd_ < 0) {
        errno = EBADF;
        return -1;
    }
    const sockaddr_in to = MakeAddress(address, port);
    const ssize_t sent =
        sendto(socketFd_, data, length, MSG_DONTWAIT, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    return sent < 0 ? -1 : static_cast<int>(sent);
}

int UdpBroadcastEndpoint::SendVia(const void* data, std::size_t length, std::uint32_t address, std::uint16_t port,
                                  int adapterIndex, std::uint32_t source) {
    if (socketFd_ < 0) {
        errno = EBADF;
        return -1;
    }
    const sockaddr_in to = MakeAddress(address, port);
    if (IN_MULTICAST(address)) {
        ip_mreqn interface {};
        interface.imr_ifindex = adapterIndex;
        if (setsockopt(socketFd_, IPPROTO_IP, IP_MULTICAST_IF, &interface, sizeof interface) < 0) {
            return -1;
        }
    }
    in_pktinfo via{};
    via.ipi_ifindex = adapterIndex;
    via.ipi_spec_dst.s_addr = source;
    const ssize_t sent = SendDatagramVia(socketFd_, data, length, to, &via, MSG_DONTWAIT);
    return sent < 0 ? -1 : static_cast<int>(sent);
}

int UdpBroadcastEndpoint::SendToDestination(const void* data, std::size_t length) {
    const ssize_t sent =
        sendto(socketFd_, data, length, 0, reinterpret_cast<const sockaddr*>(&destination_), sizeof destination_);
    if (sent < 0) {
        lastError_ = errno;
        return -1;
    }
    return static_cast<int>(sent);
}

int UdpBroadcastEndpoint::SendBroadcastEveryInterface(const void* data, std::size_t length) {
    const std::vector<BroadcastInterface> interfaces = ListBroadcastInterfaces(socketFd_);
    if (interfaces.empty()) {
        // let the routing table decide, as a plain broadcast would
        return SendToDestination(data, length);
    }
    int succeeded = 0;
    int error = 0;
    for (const auto& interface : interfaces) {
        in_pktinfo info{};
        info.ipi_ifindex = interface.index;
        info.ipi_spec_dst = interface.address;
        if (SendDatagramVia(socketFd_, data, length, destination_, &info, 0) < 0) {
            error = errno;
        } else {
            ++succeeded;
        }
    }
    if (succeeded == 0) {
        lastError_ = error;
        errno = error;
        return -1;
    }
    return static_cast<int>(length);
}

std::uint16_t UdpBroadcastEndpoint::LocalPort() const {
    if (socketFd_ < 0) {
        return 0;
    }
    sockaddr_in bound{};
    socklen_t boundLength = sizeof bound;
    if (getsockname(socketFd_, reinterpret_cast<sockaddr*>(&bound), &boundLength) < 0) {
        return 0;
    }
    return ntohs(bound.sin_port);
}

int UdpBroadcastEndpoint::SocketReceiveBuffer() const {
    if (socketFd_ < 0) {
        return 0;
    }
    int size = 0;
    socklen_t sizeLength = sizeof size;
    if (getsockopt(socketFd_, SOL_SOCKET, SO_RCVBUF, &size, &sizeLength) < 0) {
        return 0;
    }
    return size;
}

}  // namespace vantrel
