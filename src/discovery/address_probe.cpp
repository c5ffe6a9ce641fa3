#include "discovery/address_probe.h"

#include <arpa/inet.h>
#include <linux/errqueue.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <string_view>

#include "discovery/search_protocol.h"
#include "discovery/ws_discovery.h"

namespace vantrel {
namespace {

std::int64_t MonotonicMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return std::int64_t{now.tv_sec} * 1000 + now.tv_nsec / 1000000;
}

const char* IcmpUnreachableText(std::uint8_t code) {
    switch (code) {
        case 0:
            return "network unreachable";
        case 1:
            return "host unreachable";
        case 3:
            return "port unreachable";
        case 9:
        case 10:
        case 13:
            return "administratively prohibited";
        default:
            return "destination unreachable";
    }
}

class ProbeSocket {
public:
    ProbeSocket(std::uint32_t address, const AddressProbeOptions& options)
        : address_(address), options_(options), fd_(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
        const int on = 1;
        if (fd_ >= 0) {
            setsockopt(fd_, IPPROTO_IP, IP_RECVERR, &on, sizeof on);
        }
    }
    ~ProbeSocket() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    ProbeSocket(const ProbeSocket&) = delete;
    ProbeSocket& operator=(const ProbeSocket&) = delete;

    void SendAll(AddressProbeResult& result);
    // Takes what arrived: replies and ICMP errors; false when the socket failed.
    bool Take(AddressProbeResult& result);
    int Fd() const { return fd_; }

private:
    bool Send(const void* data, std::size_t length, std::uint16_t port, ProbeAnswer& answer, std::string& detail);
    void TakeError(AddressProbeResult& result);
    void TakeReply(const unsigned char* data, std::size_t length, const sockaddr_in& from, AddressProbeResult& result);

    std::uint32_t address_;
    AddressProbeOptions options_;
    int fd_;
    std::string messageIds_[2];
};

bool ProbeSocket::Send(const void* data, std::size_t length, std::uint16_t port, ProbeAnswer& answer,
                       std::string& detail) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = address_;
    to.sin_port = htons(port);
    const auto sendOnce = [&] {
        return sendto(fd_, data, length, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) >= 0;
    };
    // with IP_RECVERR an ICMP error for the earlier probe is also reported once by the next send: send again
    if (fd_ < 0 || !(sendOnce() || (errno == ECONNREFUSED && sendOnce()))) {
        answer = ProbeAnswer::kSendFailed;
        detail = std::strerror(fd_ < 0 ? EBADF : errno);
        return false;
    }
    return true;
}

void ProbeSocket::SendAll(AddressProbeResult& result) {
    const SearchProbe probe = BuildSearchProbe();
    Send(probe.data(), probe.size(), options_.nativePort, result.native, result.nativeDetail);
    const WsDiscoveryType types[2] = {WsDiscoveryType::kNetworkVideoTransmitter, WsDiscoveryType::kDevice};
    for (int i = 0; i < 2; ++i) {
        messageIds_[i] = NewWsDiscoveryMessageId();
        const std::string text = BuildWsDiscoveryProbe(messageIds_[i], types[i]);
        if (!Send(text.data(), text.size(), options_.wsDiscoveryPort, result.onvif, result.onvifDetail)) {
            return;
        }
    }
}

void ProbeSocket::TakeError(AddressProbeResult& result) {
    sockaddr_in original{};
    alignas(cmsghdr) unsigned char control[512];
    unsigned char ignored[64];
    iovec part{ignored, sizeof ignored};
    msghdr message{};
    message.msg_name = &original;
    message.msg_namelen = sizeof original;
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    if (recvmsg(fd_, &message, MSG_ERRQUEUE | MSG_DONTWAIT) < 0) {
        return;
    }
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level != IPPROTO_IP || c->cmsg_type != IP_RECVERR) {
            continue;
        }
        sock_extended_err error;
        std::memcpy(&error, CMSG_DATA(c), sizeof error);
        const bool native = ntohs(original.sin_port) == options_.nativePort;
        ProbeAnswer& answer = native ? result.native : result.onvif;
        if (answer != ProbeAnswer::kReply) {
            answer = ProbeAnswer::kUnreachable;
            (native ? result.nativeDetail : result.onvifDetail) = error.ee_origin == SO_EE_ORIGIN_ICMP
                                                                      ? IcmpUnreachableText(error.ee_code)
                                                                      : std::strerror(error.ee_errno);
        }
    }
}

void ProbeSocket::TakeReply(const unsigned char* data, std::size_t length, const sockaddr_in& from,
                            AddressProbeResult& result) {
    if (LooksLikeWsDiscovery(data, length)) {
        const WsDiscoveryReply reply = ParseWsDiscoveryReply(
            data, length, [&](std::string_view id) { return id == messageIds_[0] || id == messageIds_[1]; });
        if (reply.verdict == WsDiscoveryVerdict::kAccepted && from.sin_addr.s_addr == address_) {
            result.onvif = ProbeAnswer::kReply;
            const OnvifMatch& match = reply.matches.front();
            result.onvifDetail = match.name + (match.name.empty() || match.model.empty() ? "" : ", ") + match.model;
        }
        return;
    }
    ReplyPayload payload;
    if (ReplyDecoder().Decode(data, length, payload.data()) != 1) {
        return;
    }
    const FoundDevice device = MakeFoundDevice(payload.data());
    if (device.address == address_ || from.sin_addr.s_addr == address_) {
        result.native = ProbeAnswer::kReply;
        result.nativeDetail = "port " + PortText(device);
        result.device = device;
    }
}

bool ProbeSocket::Take(AddressProbeResult& result) {
    pollfd watched{fd_, POLLIN, 0};
    if (poll(&watched, 1, 0) < 0) {
        return errno == EINTR;
    }
    if (watched.revents & POLLERR) {
        TakeError(result);
    }
    if (!(watched.revents & POLLIN)) {
        return true;
    }
    unsigned char buffer[65536];
    sockaddr_in from{};
    socklen_t fromLength = sizeof from;
    const ssize_t received =
        recvfrom(fd_, buffer, sizeof buffer, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (received >= 0) {
        TakeReply(buffer, static_cast<std::size_t>(received), from, result);
    }
    return true;
}

bool Settled(const AddressProbeResult& result) {
    return result.native != ProbeAnswer::kNothing && result.onvif != ProbeAnswer::kNothing;
}

std::string AnswerText(ProbeAnswer answer, const std::string& detail, int timeoutMs) {
    switch (answer) {
        case ProbeAnswer::kReply:
            return detail.empty() ? "reply" : "reply (" + detail + ")";
        case ProbeAnswer::kUnreachable:
            return "ICMP " + detail;
        case ProbeAnswer::kSendFailed:
            return "cannot send: " + detail;
        case ProbeAnswer::kNothing:
            break;
    }
    return "nothing within " + std::to_string(timeoutMs) + " ms";
}

}  // namespace

AddressProbeResult ProbeAddress(std::uint32_t address, const AddressProbeOptions& options) {
    AddressProbeResult result;
    ProbeSocket socket(address, options);
    socket.SendAll(result);
    const std::int64_t end = MonotonicMs() + options.timeoutMs;
    for (std::int64_t now = MonotonicMs(); !Settled(result) && now < end; now = MonotonicMs()) {
        pollfd watched{socket.Fd(), POLLIN, 0};
        if (poll(&watched, 1, static_cast<int>(end - now)) > 0 && !socket.Take(result)) {
            break;
        }
    }
    return result;
}

std::string DescribeAddressProbe(std::uint32_t address, const AddressProbeResult& result, int timeoutMs) {
    return DottedDecimal(address) + ": native " + AnswerText(result.native, result.nativeDetail, timeoutMs) +
           "; ONVIF " + AnswerText(result.onvif, result.onvifDetail, timeoutMs);
}

}  // namespace vantrel
