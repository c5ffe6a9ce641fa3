#include "discovery/udp_broadcast_endpoint.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "collecting_endpoint.h"

// These run on loopback only (the test run's own network namespace): lo cannot broadcast, so the endpoint is
// given 127.0.0.1 and a free port instead of 255.255.255.255:5050.
namespace vantrel {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kLoopback = INADDR_LOOPBACK;

class UdpSocket {
public:
    UdpSocket() : fd(socket(AF_INET, SOCK_DGRAM, 0)) {
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(kLoopback);
        bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local);
    }
    ~UdpSocket() { close(fd); }
    std::uint16_t Port() const {
        sockaddr_in bound{};
        socklen_t length = sizeof bound;
        getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length);
        return ntohs(bound.sin_port);
    }
    bool SendTo(std::uint16_t port, const void* data, std::size_t length) const {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = htonl(kLoopback);
        to.sin_port = htons(port);
        return sendto(fd, data, length, 0, reinterpret_cast<sockaddr*>(&to), sizeof to) == static_cast<ssize_t>(length);
    }
    ssize_t Receive(void* data, std::size_t length) const {
        timeval wait{2, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
        return recv(fd, data, length, 0);
    }
    const int fd;
};

TEST(UdpBroadcastEndpoint, OpenTwiceFailsAndKeepsTheFirstSocketReceiving) {
    CollectingEndpoint endpoint(kLoopback, 9, kLoopback, 0);
    ASSERT_EQ(endpoint.Open(), 1) << endpoint.LastErrorText();
    const std::uint16_t port = endpoint.LocalPort();
    EXPECT_EQ(endpoint.Open(), -1);
    EXPECT_TRUE(endpoint.IsOpen());
    EXPECT_EQ(endpoint.LocalPort(), port);

    UdpSocket device;
    ASSERT_TRUE(device.SendTo(port, "x", 1));
    EXPECT_TRUE(endpoint.WaitFor(1, 0, 2s));
}

TEST(UdpBroadcastEndpoint, DatagramsReachTheHandlerWithLengthAndSender) {
    CollectingEndpoint endpoint(kLoopback, 9, kLoopback, 0);
    ASSERT_EQ(endpoint.Open(), 1) << endpoint.LastErrorText();
    UdpSocket device;
    std::vector<unsigned char> large(65000, 0x42);
    ASSERT_TRUE(device.SendTo(endpoint.LocalPort(), "", 0));
    ASSERT_TRUE(device.SendTo(endpoint.LocalPort(), large.data(), large.size()));
    ASSERT_TRUE(endpoint.WaitFor(2, 0, 2s));

    const auto datagrams = endpoint.Datagrams();
    EXPECT_EQ(datagrams[0].bytes.size(), 0u);
    EXPECT_EQ(ntohs(datagrams[0].sender.sin_port), device.Port());
    EXPECT_EQ(ntohl(datagrams[0].sender.sin_addr.s_addr), kLoopback);
    EXPECT_EQ(datagrams[1].bytes, large);
}

TEST(UdpBroadcastEndpoint, SendReachesTheDestinationOnlyWhileOpen) {
    UdpSocket device;
    CollectingEndpoint endpoint(kLoopback, device.Port(), kLoopback, 0);
    const SearchProbe probe = BuildSearchProbe();
    EXPECT_EQ(endpoint.Send(probe.data(), probe.size()), -1);
    ASSERT_EQ(endpoint.Open(), 1) << endpoint.LastErrorText();
    EXPECT_EQ(SendSearchProbe(endpoint), 32);

    unsigned char received[64];
    ASSERT_EQ(device.Receive(received, sizeof received), 32);
    EXPECT_TRUE(std::equal(probe.begin(), probe.end(), received));
    endpoint.Close();
    EXPECT_EQ(SendSearchProbe(endpoint), -1);
}

TEST(UdpBroadcastEndpoint, SocketReceiveBufferIsRaisedToFourMebibytes) {
    CollectingEndpoint endpoint(kLoopback, 9, kLoopback, 0);
    ASSERT_EQ(endpoint.Open(), 1) << endpoint.LastErrorText();
    // Linux reports twice the size it grants; as root the limit net.core.rmem_max does not apply
    EXPECT_GE(endpoint.SocketReceiveBuffer(), UdpBroadcastEndpoint::kSocketReceiveBuffer);
}

TEST(UdpBroadcastEndpoint, CloseIsQuickIdempotentAndAllowsReopening) {
    {
        CollectingEndpoint neverOpened(kLoopback, 9, kLoopback, 0);
        neverOpened.Close();
        EXPECT_FALSE(neverOpened.IsOpen());
    }
    CollectingEndpoint endpoint(kLoopback, 9, kLoopback, 0);
    ASSERT_EQ(endpoint.Open(), 1) << endpoint.LastErrorText();
    std::this_thread::sleep_for(50ms);
    const auto start = Clock::now();
    endpoint.Close();
    EXPECT_LT(Clock::now() - start, 5s) << "Close hangs (how fast it is, the benchmarks measure)";
    EXPECT_FALSE(endpoint.IsOpen());
    EXPECT_EQ(endpoint.LocalPort(), 0);
    endpoint.Close();

    ASSERT_EQ(endpoint.Open(), 1) << endpoint.LastErrorText();
    UdpSocket device;
    ASSERT_TRUE(device.SendTo(endpoint.LocalPort(), "again", 5));
    EXPECT_TRUE(endpoint.WaitFor(1, 0, 2s));
}

TEST(UdpBroadcastEndpoint, CloseWhileDatagramsPourInEndsQuicklyAndStopsOnReceive) {
    CollectingEndpoint endpoint(kLoopback, 9, kLoopback, 0);
    endpoint.workPerDatagram = 200us;
    ASSERT_EQ(endpoint.Open(), 1) << endpoint.LastErrorText();
    const std::uint16_t port = endpoint.LocalPort();

    std::atomic<bool> flooding{true};
    std::thread flood([&] {
        UdpSocket device;
        const std::vector<unsigned char> reply(120, 0xB3);
        while (flooding.load()) {
            device.SendTo(port, reply.data(), reply.size());
        }
    });
    ASSERT_TRUE(endpoint.WaitFor(100, 0, 2s));
    const auto start = Clock::now();
    endpoint.Close();
    const auto took = Clock::now() - start;
    const std::size_t atClose = endpoint.DatagramCount();
    std::this_thread::sleep_for(50ms);
    const std::size_t later = endpoint.DatagramCount();
    flooding.store(false);
    flood.join();

    EXPECT_LT(took, 5s) << "Close hangs (how fast it is, the benchmarks measure)";
    EXPECT_EQ(atClose, later) << "the receive handler ran after Close returned";
}

}  // namespace
}  // namespace vantrel
