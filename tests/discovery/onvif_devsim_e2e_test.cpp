// vantrel-devsim answering ONVIF's WS-Discovery probes across a veth link between namespaces made by each test;
// every probe is sent inside them.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "devsim_process.h"
#include "discovery/search_protocol.h"
#include "discovery/udp_broadcast_endpoint.h"
#include "discovery/ws_discovery.h"
#include "netns_lab.h"

namespace vantrel {
namespace {

using namespace std::chrono_literals;

// A prober's UDP socket on an ephemeral port, multicast leaving by one local address with TTL 1 and no loopback.
class ProbeSocket {
public:
    explicit ProbeSocket(const char* localAddress) {
        fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        in_addr local{};
        inet_pton(AF_INET, localAddress, &local);
        const unsigned char ttl = 1, loop = 0;
        opened_ = fd_ >= 0 && setsockopt(fd_, IPPROTO_IP, IP_MULTICAST_IF, &local, sizeof local) == 0 &&
                  setsockopt(fd_, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl) == 0 &&
                  setsockopt(fd_, IPPROTO_IP, IP_MULTICAST_LOOP, &loop, sizeof loop) == 0;
    }
    ~ProbeSocket() {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    bool Opened() const { return opened_; }

    bool Send(const std::string& bytes, const char* address, std::uint16_t port) {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        inet_pton(AF_INET, address, &to.sin_addr);
        return sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) ==
               static_cast<ssize_t>(bytes.size());
    }
    bool SendSearchProbe(const char* address) {
        const SearchProbe probe = BuildSearchProbe();
        return Send(std::string(probe.begin(), probe.end()), address, kSearchPort);
    }

    struct Datagram {
        std::string bytes;
        std::string sender;  // "10.1.0.2:3702"
    };
    // The next datagram, or false when none comes within the time.
    bool Receive(Datagram& datagram, std::chrono::milliseconds timeout) {
        pollfd watched{fd_, POLLIN, 0};
        if (poll(&watched, 1, static_cast<int>(timeout.count())) <= 0) {
            return false;
        }
        char buffer[65536];
        sockaddr_in from{};
        socklen_t length = sizeof from;
        const ssize_t got = recvfrom(fd_, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &length);
        if (got < 0) {
            return false;
        }
        datagram.bytes.assign(buffer, static_cast<std::size_t>(got));
        datagram.sender = std::string(inet_ntoa(from.sin_addr)) + ":" + std::to_string(ntohs(from.sin_port));
        return true;
    }

private:
    int fd_ = -1;
    bool opened_ = false;
};

WsDiscoveryReply ParseFor(const ProbeSocket::Datagram& datagram, const std::string& messageId) {
    return ParseWsDiscoveryReply(reinterpret_cast<const unsigned char*>(datagram.bytes.data()), datagram.bytes.size(),
                                 [&](std::string_view id) { return id == messageId; });
}

// Collects the ONVIF matches answering messageId until count have come (or nothing more comes for a while);
// every other datagram is counted in others.
std::vector<OnvifMatch> CollectMatches(ProbeSocket& socket, const std::string& messageId, std::size_t count,
                                       std::size_t& others) {
    std::vector<OnvifMatch> matches;
    ProbeSocket::Datagram datagram;
    while (matches.size() < count && socket.Receive(datagram, 5s)) {
        const WsDiscoveryReply reply = ParseFor(datagram, messageId);
        if (reply.verdict != WsDiscoveryVerdict::kAccepted || datagram.sender != "10.1.0.2:3702") {
            ++others;
            continue;
        }
        matches.insert(matches.end(), reply.matches.begin(), reply.matches.end());
    }
    return matches;
}

using OnvifNetwork = OneDeviceNetwork;

TEST_F(OnvifNetwork, OnvifOnlyCamerasAnswerMulticastAndUnicastProbesAndIgnoreTheNativeOne) {
    ChildProcess simulator;
    ASSERT_TRUE(StartDevices(simulator, devices,
                             {"--onvif-only", "--devices", "3", "--first-address", "10.1.0.50", "--name", "Cam %a",
                              "--location", "site/Hall 2", "--model", "X&Y"}));
    NetnsScope inHost(host);
    ASSERT_TRUE(inHost.Entered()) << "cannot enter network namespace " << host;
    ProbeSocket socket("10.1.0.1");
    ASSERT_TRUE(socket.Opened()) << std::strerror(errno);

    // the native probe goes first: an answer to it would arrive before the ONVIF ones
    ASSERT_TRUE(socket.SendSearchProbe("10.1.0.2"));
    const std::string multicastId = NewWsDiscoveryMessageId();
    ASSERT_TRUE(socket.Send(BuildWsDiscoveryProbe(multicastId, WsDiscoveryType::kNetworkVideoTransmitter),
                            kWsDiscoveryGroup, kWsDiscoveryPort));
    std::size_t others = 0;
    const std::vector<OnvifMatch> matches = CollectMatches(socket, multicastId, 3, others);
    EXPECT_EQ(others, 0u);
    ASSERT_EQ(matches.size(), 3u);
    std::set<std::string> endpoints, names, urls;
    for (const OnvifMatch& match : matches) {
        endpoints.insert(match.endpoint);
        names.insert(match.name);
        urls.insert(match.xaddrs.empty() ? "" : match.xaddrs[0]);
        EXPECT_EQ(match.model, "X&Y");
        EXPECT_EQ(match.location, "site/Hall 2");
    }
    EXPECT_EQ(endpoints.size(), 3u);
    EXPECT_EQ(names, (std::set<std::string>{"Cam 10.1.0.50", "Cam 10.1.0.51", "Cam 10.1.0.52"}));
    EXPECT_EQ(urls,
              (std::set<std::string>{"http://10.1.0.50/onvif/device_service", "http://10.1.0.51/onvif/device_service",
                                     "http://10.1.0.52/onvif/device_service"}));

    // the range search's unicast probe, for the other type, is answered alike with the same endpoints
    const std::string unicastId = NewWsDiscoveryMessageId();
    ASSERT_TRUE(socket.Send(BuildWsDiscoveryProbe(unicastId, WsDiscoveryType::kDevice), "10.1.0.2", kWsDiscoveryPort));
    std::set<std::string> again;
    for (const OnvifMatch& match : CollectMatches(socket, unicastId, 3, others)) {
        again.insert(match.endpoint);
    }
    EXPECT_EQ(again, endpoints);
    EXPECT_EQ(others, 0u);
}

// The endpoints that answer one multicast probe of a simulator that exits after it.
std::set<std::string> AnsweredOnce(const std::string& devicesNamespace, const std::string& hostNamespace,
                                   const std::vector<std::string>& arguments) {
    ChildProcess simulator;
    std::set<std::string> endpoints;
    if (!StartDevices(simulator, devicesNamespace, arguments)) {
        ADD_FAILURE() << "vantrel-devsim did not start";
        return endpoints;
    }
    NetnsScope inHost(hostNamespace);
    ProbeSocket socket("10.1.0.1");
    const std::string id = NewWsDiscoveryMessageId();
    EXPECT_TRUE(socket.Send(BuildWsDiscoveryProbe(id, WsDiscoveryType::kNetworkVideoTransmitter), kWsDiscoveryGroup,
                            kWsDiscoveryPort));
    // with --probes 1 the simulator ends its output once every answer left
    EXPECT_FALSE(simulator.WaitForLine("never printed", 10s));
    ProbeSocket::Datagram datagram;
    while (socket.Receive(datagram, 100ms)) {
        for (const OnvifMatch& match : ParseFor(datagram, id).matches) {
            endpoints.insert(match.endpoint);
        }
    }
    return endpoints;
}

TEST_F(OnvifNetwork, LossBothWaysDropsAnswersAndTheSeedRepeatsWhichOnes) {
    const std::vector<std::string> arguments = {"--onvif-only", "--devices", "40", "--loss",   "0.3", "--probe-loss",
                                                "0.3",          "--seed",    "7",  "--probes", "1",   "--quiet"};
    const std::set<std::string> first = AnsweredOnce(devices, host, arguments);
    const std::set<std::string> second = AnsweredOnce(devices, host, arguments);
    EXPECT_GT(first.size(), 5u);
    EXPECT_LT(first.size(), 35u);
    EXPECT_EQ(first, second);
}

}  // namespace
}  // namespace vantrel
