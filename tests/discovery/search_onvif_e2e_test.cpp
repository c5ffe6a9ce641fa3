// The whole search across veth links between namespaces made by each test: ONVIF cameras beside native
// devices, MACs and makers, conflicting answers, a strict reverse-path filter, a flooding host and "Probe
// address". Nothing leaves those namespaces.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <map>
#include <string>
#include <thread>

#include "devsim_process.h"
#include "discovery/search_session.h"
#include "netns_lab.h"
#include "temp_folder.h"
#include "wait_until.h"

namespace vantrel {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A host with two adapters: va0 10.1.0.1/24 to the "rec" namespace (10.1.0.2), va1 10.2.0.1/24 to "cam"
// (10.2.0.2).
class OnvifSite : public ::testing::Test {
protected:
    void SetUp() override {
        host = lab.AddNamespace("host");
        recorders = lab.AddNamespace("rec");
        cameras = lab.AddNamespace("cam");
        ASSERT_FALSE(host.empty() || recorders.empty() || cameras.empty()) << lab.Error();
        ASSERT_TRUE(lab.Link(host, "10.1.0.1/24", recorders, "10.1.0.2/24")) << lab.Error();
        ASSERT_TRUE(lab.Link(host, "10.2.0.1/24", cameras, "10.2.0.2/24")) << lab.Error();
    }

    std::string Scan(const std::vector<std::string>& options, std::string& errors) {
        std::string output;
        EXPECT_EQ(RunScan(host, options, output, errors), 0) << errors;
        return output;
    }

    NetnsLab lab;
    std::string host;
    std::string recorders;
    std::string cameras;
};

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

TEST_F(OnvifSite, OnvifOnlyCameraAndARecorderAnsweringBothAreOneRowEachWithMacAndMaker) {
    ASSERT_TRUE(lab.Run("ip -n " + recorders + " link set vb0 address 02:5e:10:00:00:02")) << lab.Error();
    TempFolder folder;
    const std::string ouiPath = folder.Path() + "oui.txt";
    std::ofstream(ouiPath) << "02-5E-10   (hex)\t\tTest Recorders Inc.\n";
    ChildProcess recorder;
    ChildProcess camera;
    ASSERT_TRUE(StartDevices(recorder, recorders,
                             {"--device", "10.1.0.2,255.255.255.0,10.1.0.254,8000", "--onvif", "--name", "Recorder %a",
                              "--model", "NVR-8", "--location", "site/rack 2"}));
    ASSERT_TRUE(StartDevices(camera, cameras,
                             {"--device", "10.2.0.2,255.255.255.0,10.2.0.254,80", "--onvif-only", "--name", "Gate"}));
    std::string errors;
    const std::string json = Scan({"--time", "1", "--json", "--oui", ouiPath}, errors);

    EXPECT_TRUE(Has(json, "\"no\": 2,") && !Has(json, "\"no\": 3,")) << json;
    EXPECT_TRUE(Has(json, "\"address\": \"10.1.0.2\", \"port\": 8000,")) << json;
    EXPECT_TRUE(Has(json,
                    "\"protocols\": [\"native\", \"onvif\"], \"name\": \"Recorder 10.1.0.2\", \"model\": "
                    "\"NVR-8\", \"location\": \"site/rack 2\", \"serviceUrls\": [\"http://10.1.0.2"))
        << json;
    EXPECT_TRUE(Has(json, "\"mac\": \"02:5e:10:00:00:02\", \"vendor\": \"Test Recorders Inc.\", \"conflict\": false"))
        << json;
    EXPECT_TRUE(Has(json, "\"address\": \"10.2.0.2\", \"port\": null,")) << json;
    EXPECT_TRUE(Has(json, "\"protocols\": [\"onvif\"], \"name\": \"Gate\"")) << json;

    // the statistics name both adapters and the probes of both kinds; the devices answer each typed probe
    Scan({"--time", "2", "--stats", "--probes", "1"}, errors);
    EXPECT_TRUE(Has(errors, "adapter va0: probes sent 1 native, 2 WS-Discovery; replies received 3, accepted 3"))
        << errors;
    EXPECT_TRUE(Has(errors, "adapter va1: probes sent 1 native, 2 WS-Discovery; replies received 2, accepted 2"))
        << errors;
}

TEST_F(OnvifSite, TwoHostsAnsweringForOneAddressAndPortAreOneRowMarkedAsAConflict) {
    ChildProcess first;
    ChildProcess second;
    ASSERT_TRUE(StartDevices(first, recorders, {"--device", "192.168.1.108,255.255.255.0,192.168.1.1,37777"}));
    ASSERT_TRUE(StartDevices(second, cameras, {"--device", "192.168.1.108,255.255.255.0,192.168.1.1,37777"}));
    std::string errors;
    const std::string json = Scan({"--time", "0.6", "--json", "--no-onvif"}, errors);
    EXPECT_FALSE(Has(json, "\"no\": 2,")) << json;
    EXPECT_TRUE(Has(json, "\"conflict\": true, \"senders\": [\"10.1.0.2\", \"10.2.0.2\"]") ||
                Has(json, "\"conflict\": true, \"senders\": [\"10.2.0.2\", \"10.1.0.2\"]"))
        << json;
}

TEST_F(OnvifSite, StrictReversePathFilterIsNamedAsTheLikelyCause) {
    ASSERT_TRUE(lab.Run("ip netns exec " + host + " sysctl -qw net.ipv4.conf.va0.rp_filter=1")) << lab.Error();
    ASSERT_TRUE(lab.Run("ip -n " + recorders + " address add 192.168.1.108/24 dev vb0")) << lab.Error();
    ChildProcess device;
    // a factory-default device answering from its own foreign address: the filter drops it
    ASSERT_TRUE(StartDevices(device, recorders,
                             {"--device", "192.168.1.108,255.255.255.0,192.168.1.1,37777", "--source", "announced"}));
    std::string errors;
    const std::string json = Scan({"--time", "0.6", "--json", "--no-onvif"}, errors);
    EXPECT_EQ(json, "[]\n");
    EXPECT_TRUE(Has(errors, "warning: adapter va0 drops replies from other subnets")) << errors;
    EXPECT_FALSE(Has(errors, "adapter va1 drops")) << errors;

    ASSERT_TRUE(lab.Run("ip netns exec " + host + " sysctl -qw net.ipv4.conf.va0.rp_filter=0")) << lab.Error();
    EXPECT_TRUE(Has(Scan({"--time", "0.6", "--json", "--no-onvif"}, errors), "\"address\": \"192.168.1.108\""));
}

TEST_F(OnvifSite, ProbeAddressTellsReplyUnreachablePortAndSilence) {
    ChildProcess camera;
    ASSERT_TRUE(StartDevices(
        camera, cameras,
        {"--device", "10.2.0.2,255.255.255.0,10.2.0.254,80", "--onvif-only", "--name", "Gate", "--model", "IPC-1"}));
    std::string output;
    std::string errors;
    // the simulator listens on port 5050 but keeps quiet there, as a camera of another maker may
    EXPECT_EQ(RunScan(host, {"--probe", "10.2.0.2", "--time", "1.5"}, output, errors), 0) << errors;
    EXPECT_EQ(output, "10.2.0.2: native nothing within 1500 ms; ONVIF reply (Gate, IPC-1)\n");
    // the recorders' namespace has nothing listening: both ports are unreachable
    EXPECT_EQ(RunScan(host, {"--probe", "10.1.0.2"}, output, errors), 3) << errors;
    EXPECT_EQ(output, "10.1.0.2: native ICMP port unreachable; ONVIF ICMP port unreachable\n");
    EXPECT_EQ(RunScan(host, {"--probe", "10.9.0.1", "--time", "0.3"}, output, errors), 3) << errors;
    EXPECT_TRUE(Has(output, "nothing within 300 ms") || Has(output, "ICMP network unreachable") ||
                Has(output, "cannot send"))
        << output;
}

TEST_F(OnvifSite, FloodFromOneHostDoesNotHideTheRealDevices) {
    ChildProcess flood;
    ChildProcess real;
    ASSERT_TRUE(StartDevices(flood, cameras, {"--devices", "20000", "--first-address", "10.77.0.1", "--quiet"}));
    ASSERT_TRUE(StartDevices(real, recorders, {"--devices", "5", "--first-address", "10.1.0.100", "--delay", "100"}));
    NetnsScope inHost(host);
    ASSERT_TRUE(inHost.Entered());
    SearchSessionOptions options;
    options.probeDelaysMs = {0};
    options.settleMs = 1500;
    SearchSession session(options);
    const auto start = Clock::now();
    ASSERT_TRUE(session.Start()) << session.Status().problem;
    auto listed = [&] {
        int found = 0;
        for (const FoundRow& row : session.Rows()) {
            found += Addresses("10.1.0.100", 5).count(row.device.addressText) ? 1 : 0;
        }
        return found == 5;
    };
    testing::WaitUntil(listed, 5s);
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    ASSERT_TRUE(listed()) << session.Status().listed;
    std::printf("the 5 real devices were listed %lld ms after the search began, under a flood of 20000\n",
                static_cast<long long>(elapsed.count()));
    testing::WaitUntil([&] { return session.Status().state != SearchState::kSearching; }, 10s);
    const SessionStatus status = session.Status();
    EXPECT_EQ(status.listed, 5u + kMaxDevicesPerSender);
    ASSERT_FALSE(status.droppedBySender.empty());
    EXPECT_EQ(DottedDecimal(status.droppedBySender[0].sender), "10.2.0.2");
    EXPECT_TRUE(Has(DescribeStatus(status), "replies dropped from 10.2.0.2")) << DescribeStatus(status);
}

}  // namespace
}  // namespace vantrel
