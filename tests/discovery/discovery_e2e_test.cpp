// End to end across veth links between network namespaces made by each test: the real endpoint (or
// vantrel-scan) on one side broadcasting to 255.255.255.255:5050, simulated devices on the other.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <set>
#include <string>

#include "collecting_endpoint.h"
#include "devsim_process.h"
#include "netns_lab.h"

namespace vantrel {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

using OneNetwork = OneDeviceNetwork;

TEST_F(OneNetwork, BroadcastProbeCrossesTheLinkAndEachDeviceIsListedOnce) {
    ChildProcess simulator;
    ASSERT_TRUE(StartDevices(simulator, devices, {"--devices", "5", "--repeat", "3", "--malformed", "12"}));

    NetnsScope inHost(host);
    ASSERT_TRUE(inHost.Entered()) << "cannot enter network namespace " << host;
    CollectingEndpoint endpoint;
    ASSERT_EQ(endpoint.Open(), 1) << endpoint.LastErrorText();
    ASSERT_EQ(SendSearchProbe(endpoint), 32) << std::strerror(endpoint.LastError());
    // own probe + 15 replies + 12 malformed
    ASSERT_TRUE(endpoint.WaitFor(28, 5, 5s)) << endpoint.DatagramCount() << " datagrams";
    std::this_thread::sleep_for(100ms);

    EXPECT_EQ(endpoint.AddressTexts(), Addresses("192.168.1.100", 5));
    EXPECT_EQ(endpoint.Devices().size(), 5u);
    bool ownProbeCameBack = false;
    for (const auto& datagram : endpoint.Datagrams()) {
        ownProbeCameBack = ownProbeCameBack || (datagram.bytes.size() == 32 && datagram.bytes[0] == 0xA3);
        if (datagram.bytes.size() >= 120 && datagram.bytes[0] == 0xB3) {
            EXPECT_EQ(inet_ntoa(datagram.sender.sin_addr), std::string("10.1.0.2"));
        }
    }
    EXPECT_TRUE(ownProbeCameBack);
}

TEST_F(OneNetwork, BroadcastRepliesWithExtraBytesAreListed) {
    ChildProcess simulator;
    ASSERT_TRUE(
        StartDevices(simulator, devices,
                     {"--device", "172.16.5.9,255.255.0.0,172.16.0.1,37777", "--devices", "2", "--first-address",
                      "10.1.0.50", "--reply-to", "broadcast", "--extra", "9", "--delay", "50", "--jitter", "50"}));
    NetnsScope inHost(host);
    ASSERT_TRUE(inHost.Entered()) << "cannot enter network namespace " << host;
    CollectingEndpoint endpoint;
    ASSERT_EQ(endpoint.Open(), 1) << endpoint.LastErrorText();
    ASSERT_EQ(SendSearchProbe(endpoint), 32);
    ASSERT_TRUE(endpoint.WaitFor(0, 3, 5s));

    EXPECT_EQ(endpoint.AddressTexts(), (std::set<std::string>{"172.16.5.9", "10.1.0.50", "10.1.0.51"}));
    for (const FoundDevice& device : endpoint.Devices()) {
        if (AddressText(device) == "172.16.5.9") {
            EXPECT_EQ(PortText(device), "37777");
            EXPECT_EQ(SubnetMaskText(device), "255.255.0.0");
            EXPECT_EQ(GatewayText(device), "172.16.0.1");
        }
    }
}

TEST_F(OneNetwork, OpenFailsWhileAnotherProgramHoldsPort5050) {
    NetnsScope inHost(host);
    ASSERT_TRUE(inHost.Entered()) << "cannot enter network namespace " << host;
    // the other program even allows sharing; the endpoint must still not share the port
    const int holder = socket(AF_INET, SOCK_DGRAM, 0);
    const int on = 1;
    setsockopt(holder, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in port5050{};
    port5050.sin_family = AF_INET;
    port5050.sin_port = htons(5050);
    ASSERT_EQ(bind(holder, reinterpret_cast<sockaddr*>(&port5050), sizeof port5050), 0);

    CollectingEndpoint endpoint;
    EXPECT_EQ(endpoint.Open(), -1);
    EXPECT_FALSE(endpoint.IsOpen());
    EXPECT_EQ(endpoint.LastError(), EADDRINUSE);
    EXPECT_NE(endpoint.LastErrorText().find("5050"), std::string::npos) << endpoint.LastErrorText();
    EXPECT_EQ(SendSearchProbe(endpoint), -1);

    std::string output;
    std::string errors;
    EXPECT_EQ(RunScan(host, {"--time", "0.2"}, output, errors), 2);
    EXPECT_NE(errors.find("5050"), std::string::npos) << errors;

    close(holder);
    EXPECT_EQ(endpoint.Open(), 1) << endpoint.LastErrorText();
}

TEST_F(OneNetwork, CloseWhileABurstOfRepliesPoursInEndsWithin500Ms) {
    ChildProcess simulator;
    ASSERT_TRUE(StartDevices(simulator, devices, {"--devices", "20000", "--repeat", "2", "--quiet"}));
    NetnsScope inHost(host);
    ASSERT_TRUE(inHost.Entered()) << "cannot enter network namespace " << host;
    CollectingEndpoint endpoint;
    endpoint.workPerDatagram = 100us;
    ASSERT_EQ(endpoint.Open(), 1) << endpoint.LastErrorText();
    ASSERT_EQ(SendSearchProbe(endpoint), 32);
    ASSERT_TRUE(endpoint.WaitFor(200, 0, 5s));

    const auto start = Clock::now();
    endpoint.Close();
    EXPECT_LT(Clock::now() - start, 5s) << "Close hangs (how fast it is, the benchmarks measure)";
    const std::size_t atClose = endpoint.DatagramCount();
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(endpoint.DatagramCount(), atClose);
}

TEST_F(OneNetwork, ScanToolListsDevicesAsTableAndJson) {
    ChildProcess simulator;
    ASSERT_TRUE(
        StartDevices(simulator, devices, {"--devices", "3", "--first-address", "10.1.0.20", "--malformed", "6"}));
    std::string table;
    std::string errors;
    ASSERT_EQ(RunScan(host, {"--time", "1"}, table, errors), 0) << errors;
    EXPECT_EQ(table,
              "NO     IP Address       Port Number  Subnet Mask      Default Gateway\n"
              "1      10.1.0.20        8000         255.255.255.0    192.168.1.1\n"
              "2      10.1.0.21        8000         255.255.255.0    192.168.1.1\n"
              "3      10.1.0.22        8000         255.255.255.0    192.168.1.1\n");

    std::string json;
    ASSERT_EQ(RunScan(host, {"--time", "0.5", "--json"}, json, errors), 0) << errors;
    // the fields vantrel-scan always had come first, in their order; the newer ones follow
    EXPECT_NE(json.find("{\"no\": 3, \"address\": \"10.1.0.22\", \"port\": 8000, \"subnetMask\": \"255.255.255.0\", "
                        "\"gateway\": \"192.168.1.1\", \"registered\": false, "),
              std::string::npos)
        << json;
    EXPECT_EQ(json.find("203.0.113."), std::string::npos) << json;
}

TEST(TwoNetworks, OneProbeSearchesBothAdapters) {
    NetnsLab lab;
    const std::string host = lab.AddNamespace("host");
    const std::string wired = lab.AddNamespace("wired");
    const std::string wifi = lab.AddNamespace("wifi");
    ASSERT_FALSE(host.empty() || wired.empty() || wifi.empty()) << lab.Error();
    ASSERT_TRUE(lab.Link(host, "10.1.0.1/24", wired, "10.1.0.2/24")) << lab.Error();
    ASSERT_TRUE(lab.Link(host, "10.2.0.1/24", wifi, "10.2.0.2/24")) << lab.Error();
    // like most PCs, a default route through one adapter: a plain limited broadcast would leave by it alone
    ASSERT_TRUE(lab.Run("ip -n " + host + " route add default via 10.1.0.2")) << lab.Error();

    ChildProcess wiredDevices;
    ChildProcess wifiDevices;
    ASSERT_TRUE(StartDevices(wiredDevices, wired, {"--devices", "3", "--first-address", "10.1.0.100"}));
    ASSERT_TRUE(StartDevices(wifiDevices, wifi,
                             {"--devices", "2", "--first-address", "10.2.0.100", "--reply-to", "broadcast"}));
    NetnsScope inHost(host);
    ASSERT_TRUE(inHost.Entered()) << "cannot enter network namespace " << host;
    CollectingEndpoint endpoint;
    ASSERT_EQ(endpoint.Open(), 1) << endpoint.LastErrorText();
    ASSERT_EQ(SendSearchProbe(endpoint), 32);
    ASSERT_TRUE(endpoint.WaitFor(0, 5, 5s)) << endpoint.Devices().size() << " devices";

    std::set<std::string> expected = Addresses("10.1.0.100", 3);
    const std::set<std::string> second = Addresses("10.2.0.100", 2);
    expected.insert(second.begin(), second.end());
    EXPECT_EQ(endpoint.AddressTexts(), expected);
}

}  // namespace
}  // namespace vantrel
