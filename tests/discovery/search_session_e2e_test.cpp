// The search session and vantrel-scan across veth links between namespaces made by each test, with simulated
// devices on the far side: adapters, foreign subnets, forged senders, confidence, limits, a router between
// the host and the devices, and the scan tool's outputs. Nothing leaves those namespaces.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <map>
#include <string>
#include <thread>

#include "devsim_process.h"
#include "discovery/search_session.h"
#include "netns_lab.h"
#include "records/records.h"
#include "store/device_store.h"
#include "temp_folder.h"
#include "wait_until.h"

namespace vantrel {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

bool WaitForState(const SearchSession& session, SearchState state, std::chrono::milliseconds timeout) {
    return testing::WaitUntil([&] { return session.Status().state == state; }, timeout);
}

std::map<std::string, FoundRow> ByAddress(const std::vector<FoundRow>& rows) {
    std::map<std::string, FoundRow> found;
    for (const FoundRow& row : rows) {
        found[row.device.addressText] = row;
    }
    return found;
}

SearchSessionOptions OneProbe() {
    SearchSessionOptions options;
    options.probeDelaysMs = {0};
    options.settleMs = 300;
    return options;
}

// A host with two adapters: va0 10.1.0.1/24 to the "wired" namespace, va1 10.2.0.1/24 to "lab".
class TwoAdapters : public ::testing::Test {
protected:
    void SetUp() override {
        host = lab.AddNamespace("host");
        wired = lab.AddNamespace("wired");
        other = lab.AddNamespace("lab");
        ASSERT_FALSE(host.empty() || wired.empty() || other.empty()) << lab.Error();
        ASSERT_TRUE(lab.Link(host, "10.1.0.1/24", wired, "10.1.0.2/24")) << lab.Error();
        ASSERT_TRUE(lab.Link(host, "10.2.0.1/24", other, "10.2.0.2/24")) << lab.Error();
    }

    // One search from the host; its rows by address (none when it could not run), its final status in status.
    std::map<std::string, FoundRow> SearchFromHost(const SearchSessionOptions& options) {
        NetnsScope inHost(host);
        if (!inHost.Entered()) {
            ADD_FAILURE() << "cannot enter network namespace " << host;
            return {};
        }
        SearchSession session(options);
        if (!session.Start()) {
            ADD_FAILURE() << session.Status().problem;
            return {};
        }
        EXPECT_TRUE(WaitForState(session, SearchState::kFinished, std::chrono::seconds(5)));
        status = session.Status();
        return ByAddress(session.Rows());
    }

    NetnsLab lab;
    std::string host;
    std::string wired;
    std::string other;
    SessionStatus status;
};

TEST_F(TwoAdapters, EachRowNamesItsAdapterAndADeviceOutsideThatSubnetIsMarked) {
    ChildProcess wiredDevices;
    ChildProcess labDevices;
    ASSERT_TRUE(StartDevices(wiredDevices, wired,
                             {"--device", "10.1.0.100,255.255.255.0,10.1.0.254,8000", "--device",
                              "192.168.1.108,255.255.255.0,192.168.1.1,37777"}));
    ASSERT_TRUE(StartDevices(labDevices, other,
                             {"--device", "10.2.0.100,255.255.255.0,10.2.0.254,8000", "--reply-to", "broadcast"}));
    std::map<std::string, FoundRow> rows = SearchFromHost(OneProbe());

    ASSERT_EQ(rows.size(), 3u);
    const FoundRow& inSubnet = rows["10.1.0.100"];
    EXPECT_STREQ(inSubnet.adapterName, "va0");
    EXPECT_EQ(DottedDecimal(inSubnet.adapterAddress), "10.1.0.1");
    EXPECT_EQ(DottedDecimal(inSubnet.adapterMask), "255.255.255.0");
    EXPECT_FALSE(inSubnet.outsideAdapterSubnet);
    const FoundRow& factoryDefault = rows["192.168.1.108"];
    EXPECT_STREQ(factoryDefault.adapterName, "va0");
    EXPECT_TRUE(factoryDefault.outsideAdapterSubnet);
    const FoundRow& broadcasting = rows["10.2.0.100"];
    EXPECT_STREQ(broadcasting.adapterName, "va1");
    EXPECT_EQ(DottedDecimal(broadcasting.adapterAddress), "10.2.0.1");
    EXPECT_FALSE(broadcasting.outsideAdapterSubnet);
}

TEST_F(TwoAdapters, SenderCheckTellsADeviceAnsweringForItselfFromOneAnsweringForAnother) {
    ASSERT_TRUE(lab.Run("ip -n " + wired + " addr add 10.1.0.41/24 dev vb0")) << lab.Error();
    ChildProcess genuine;
    ChildProcess forger;
    ASSERT_TRUE(StartDevices(genuine, wired,
                             {"--device", "10.1.0.41,255.255.255.0,10.1.0.254,8000", "--device",
                              "10.1.0.2,255.255.255.0,10.1.0.254,8000", "--source", "announced"}));
    ASSERT_TRUE(StartDevices(forger, other, {"--device", "10.2.0.77,255.255.255.0,10.2.0.254,8000"}));
    std::map<std::string, FoundRow> rows = SearchFromHost(OneProbe());

    ASSERT_EQ(rows.size(), 3u);
    EXPECT_FALSE(rows["10.1.0.41"].senderMismatch);
    EXPECT_EQ(DottedDecimal(rows["10.1.0.41"].senderAddress), "10.1.0.41");
    EXPECT_FALSE(rows["10.1.0.2"].senderMismatch);
    EXPECT_TRUE(rows["10.2.0.77"].senderMismatch);
    EXPECT_EQ(DottedDecimal(rows["10.2.0.77"].senderAddress), "10.2.0.2");
    EXPECT_EQ(rows["10.2.0.77"].senderPort, kSearchPort);
}

TEST_F(TwoAdapters, ConfidenceCountsTheProbesEachDeviceAnswered) {
    ChildProcess flaky;
    ChildProcess steady;
    ASSERT_TRUE(
        StartDevices(flaky, wired, {"--devices", "2", "--first-address", "10.1.0.50", "--answer-probes", "1,3"}));
    ASSERT_TRUE(StartDevices(steady, other, {"--devices", "1", "--first-address", "10.2.0.50", "--repeat", "2"}));
    // a reply counts for the latest probe sent when it arrives: the probes stand far enough apart that a device
    // slowed down by a sanitizer still answers each before the next goes out
    SearchSessionOptions options;
    options.probeDelaysMs = {0, 600, 1200};
    options.settleMs = 600;
    std::map<std::string, FoundRow> rows = SearchFromHost(options);

    EXPECT_EQ(status.probesSent, 3u);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows["10.1.0.50"].probesSeen, 2u);
    EXPECT_EQ(rows["10.1.0.51"].probesSeen, 2u);
    EXPECT_EQ(rows["10.1.0.51"].replies, 2u);
    EXPECT_EQ(rows["10.2.0.50"].probesSeen, 3u);
    EXPECT_EQ(rows["10.2.0.50"].replies, 6u) << "two answers to each probe count once per probe";
}

TEST_F(TwoAdapters, ListedLimitStopsTheListAndTheStatusSaysSo) {
    ChildProcess many;
    ASSERT_TRUE(StartDevices(many, wired, {"--devices", "300", "--first-address", "10.1.1.1", "--quiet"}));
    SearchSessionOptions options = OneProbe();
    options.maxListed = 100;
    options.maxDevicesPerSender = 1000;  // one simulator answers for all 300
    std::map<std::string, FoundRow> rows = SearchFromHost(options);
    EXPECT_EQ(rows.size(), 100u);
    EXPECT_EQ(status.listed, 100u);
    EXPECT_TRUE(status.listedLimitReached);
    // 10.1.1.255 and 10.1.2.0 are the broadcast and network addresses of the /24 they announce
    EXPECT_EQ(status.notListed, 198u);
    EXPECT_EQ(status.rejectedAddresses, 2u);
    EXPECT_EQ(DescribeStatus(status),
              "100 devices found; list full at 100 devices, 198 more not listed; 2 replies rejected");
}

TEST(NoNetwork, NoProbeSentSaysWhyInTheSessionAndInTheScanTool) {
    NetnsLab lab;
    const std::string alone = lab.AddNamespace("alone");  // loopback only: no adapter can broadcast
    ASSERT_FALSE(alone.empty()) << lab.Error();
    {
        NetnsScope inside(alone);
        ASSERT_TRUE(inside.Entered()) << "cannot enter network namespace " << alone;
        SearchSessionOptions options = OneProbe();
        options.settleMs = 50;
        SearchSession session(options);
        ASSERT_TRUE(session.Start()) << session.Status().problem;
        ASSERT_TRUE(WaitForState(session, SearchState::kCannotSend, 2s));
        std::this_thread::sleep_for(150ms);
        const SessionStatus status = session.Status();
        EXPECT_EQ(status.state, SearchState::kCannotSend) << "the round ends as it began";
        EXPECT_EQ(status.probesSent, 0u);
        EXPECT_EQ(status.sendError, ENETUNREACH);
        EXPECT_EQ(DescribeStatus(status), "No probe could be sent: network unreachable");
    }
    std::string output;
    std::string errors;
    EXPECT_EQ(RunScan(alone, {"--time", "0.2"}, output, errors), 2);
    EXPECT_EQ(output, "") << "no table when nothing was searched";
    EXPECT_NE(errors.find("the search probe could not be sent: network unreachable"), std::string::npos) << errors;
}

// host (10.1.0.1) -- router (10.1.0.254 | 10.2.0.254) -- devices (10.2.0.2): the host's broadcasts stop at
// the router, so the devices are found only by a directed broadcast the router forwards, or by unicast.
class Routed : public ::testing::Test {
protected:
    void SetUp() override {
        host = lab.AddNamespace("host");
        router = lab.AddNamespace("router");
        devices = lab.AddNamespace("dev");
        ASSERT_FALSE(host.empty() || router.empty() || devices.empty()) << lab.Error();
        ASSERT_TRUE(lab.Link(host, "10.1.0.1/24", router, "10.1.0.254/24")) << lab.Error();     // va0 - vb0
        ASSERT_TRUE(lab.Link(router, "10.2.0.254/24", devices, "10.2.0.2/24")) << lab.Error();  // va1 - vb1
        ASSERT_TRUE(lab.Run("ip -n " + host + " route add 10.2.0.0/24 via 10.1.0.254")) << lab.Error();
        ASSERT_TRUE(lab.Run("ip -n " + devices + " route add default via 10.2.0.254")) << lab.Error();
        // forwarding, and directed broadcasts forwarded from the host's side onto the devices' network
        for (const char* setting : {"net.ipv4.ip_forward=1", "net.ipv4.conf.all.bc_forwarding=1",
                                    "net.ipv4.conf.vb0.bc_forwarding=1", "net.ipv4.conf.va1.bc_forwarding=1"}) {
            ASSERT_TRUE(lab.Run("ip netns exec " + router + " sysctl -qw " + setting)) << lab.Error();
        }
        ASSERT_TRUE(StartDevices(simulator, devices, {"--devices", "3", "--first-address", "10.2.0.100"}));
    }

    std::string Scan(std::vector<std::string> options) {
        options.insert(options.begin(), {"--time", "0.8"});
        std::string output;
        std::string errors;
        EXPECT_EQ(RunScan(host, options, output, errors), 0) << errors;
        return output;
    }

    NetnsLab lab;
    std::string host;
    std::string router;
    std::string devices;
    ChildProcess simulator;
};

TEST_F(Routed, DirectedBroadcastReachesDevicesBehindTheRouterThatABroadcastDoesNot) {
    EXPECT_EQ(Scan({"--json"}), "[]\n");

    const std::string json = Scan({"--json", "--network", "10.2.0.0/24"});
    for (const std::string& address : Addresses("10.2.0.100", 3)) {
        EXPECT_NE(json.find("\"address\": \"" + address + "\""), std::string::npos) << json;
    }
    EXPECT_NE(json.find("\"no\": 3,"), std::string::npos) << json;
    EXPECT_EQ(json.find("\"no\": 4,"), std::string::npos) << json;
    EXPECT_NE(json.find("\"adapter\": \"va0\", \"adapterAddress\": \"10.1.0.1\""), std::string::npos) << json;
    // in a searched network the device is reachable, though not in the adapter's own subnet
    EXPECT_EQ(json.find("\"outsideAdapterSubnet\": true"), std::string::npos) << json;
}

TEST_F(Routed, UnicastRangeReachesDevicesBehindTheRouter) {
    NetnsScope inHost(host);
    ASSERT_TRUE(inHost.Entered()) << "cannot enter network namespace " << host;
    SearchSession session(OneProbe());
    SearchTarget range;
    std::string problem;
    // only 10.2.0.2 is there to take a probe; it answers for devices announced within the range
    ASSERT_TRUE(ParseSearchTarget("10.2.0.1-10.2.0.120", range, problem)) << problem;
    ASSERT_TRUE(session.SetTargets({range}, problem)) << problem;
    ASSERT_TRUE(session.Start()) << session.Status().problem;
    ASSERT_TRUE(WaitForState(session, SearchState::kFinished, 5s));
    std::set<std::string> found;
    for (const FoundRow& row : session.Rows()) {
        found.insert(row.device.addressText);
        EXPECT_FALSE(row.outsideAdapterSubnet) << row.device.addressText;
        EXPECT_EQ(DottedDecimal(row.senderAddress), "10.2.0.2");
    }
    EXPECT_EQ(found, Addresses("10.2.0.100", 3));
    EXPECT_EQ(session.Status().probesSent, 1u);
    EXPECT_EQ(session.Status().sendsFailed, 0u);
}

TEST_F(Routed, ScanToolTakesRangesAndRefusesBadNetworks) {
    // the default schedule fits two probes into 0.8 s: each device answers both
    const std::string csv = Scan({"--csv", "--network", "10.2.0.1-10.2.0.120"});
    EXPECT_EQ(csv.rfind("no,address,port,subnetMask,gateway,registered,adapter,", 0), 0u) << csv;
    EXPECT_NE(csv.find("\r\n3,10.2.0.102,8000,255.255.255.0,192.168.1.1,false,va0,10.1.0.1,255.255.255.0,false,"
                       "10.2.0.2,true,2,2,2,"),
              std::string::npos)
        << csv;

    std::string output;
    std::string errors;
    EXPECT_EQ(RunScan(host, {"--network", "10.2.0.0/33"}, output, errors), 1);
    EXPECT_NE(errors.find("invalid value for --network: '10.2.0.0/33': the prefix length"), std::string::npos)
        << errors;
    EXPECT_EQ(RunScan(host, {"--network", "10.0.0.0-10.2.0.0"}, output, errors), 1);
    EXPECT_NE(errors.find("at most 65536"), std::string::npos) << errors;
}

// One device network with three devices; a Data.xml in a temporary folder.
class ScanWithDatabase : public OneDeviceNetwork {
protected:
    void SetUp() override {
        OneDeviceNetwork::SetUp();
        ASSERT_FALSE(HasFatalFailure());
        ASSERT_TRUE(StartDevices(simulator, devices, {"--devices", "3", "--first-address", "10.1.0.20"}));
        databasePath = folder.Path() + "Data.xml";
        const std::unique_ptr<DeviceStore> store = OpenDeviceStore(databasePath);
        DeviceRecord records[2] = {};
        const char* hosts[2] = {"10.1.0.21", "10.1.0.22"};
        const std::uint32_t ports[2] = {8000, 9000};  // the second is registered on another port
        for (int i = 0; i < 2; ++i) {
            std::snprintf(records[i].name, sizeof records[i].name, "Gate%d", i + 1);
            std::snprintf(records[i].host, sizeof records[i].host, "%s", hosts[i]);
            std::snprintf(records[i].username, sizeof records[i].username, "admin");
            records[i].port = ports[i];
        }
        ASSERT_EQ(store->AddDevices(records, sizeof records), 1);
        ASSERT_EQ(store->Save(), 1);
    }

    int Scan(std::vector<std::string> options, std::string& output, std::string& errors) {
        options.insert(options.begin(), {"--time", "0.8"});
        return RunScan(host, options, output, errors);
    }

    ChildProcess simulator;
    TempFolder folder;
    std::string databasePath;
};

TEST_F(ScanWithDatabase, RegisteredDevicesAreMarkedInTableCsvAndJson) {
    std::string output;
    std::string errors;
    ASSERT_EQ(Scan({"--database", databasePath}, output, errors), 0) << errors;
    EXPECT_EQ(output,
              "NO     IP Address       Port Number  Subnet Mask      Default Gateway  Registered\n"
              "1      10.1.0.20        8000         255.255.255.0    192.168.1.1      no\n"
              "2      10.1.0.21        8000         255.255.255.0    192.168.1.1      yes\n"
              "3      10.1.0.22        8000         255.255.255.0    192.168.1.1      no\n");

    ASSERT_EQ(Scan({"--csv", "--database", databasePath}, output, errors), 0) << errors;
    EXPECT_NE(output.find("\r\n2,10.1.0.21,8000,255.255.255.0,192.168.1.1,true,va0,"), std::string::npos) << output;
    EXPECT_NE(output.find("\r\n3,10.1.0.22,8000,255.255.255.0,192.168.1.1,false,va0,"), std::string::npos) << output;

    ASSERT_EQ(Scan({"--json", "--database", databasePath}, output, errors), 0) << errors;
    EXPECT_NE(output.find("\"address\": \"10.1.0.21\", \"port\": 8000, \"subnetMask\": \"255.255.255.0\", "
                          "\"gateway\": \"192.168.1.1\", \"registered\": true,"),
              std::string::npos)
        << output;
}

TEST_F(ScanWithDatabase, UnreadableDatabaseAndConflictingFormatsAreUsageErrors) {
    std::string output;
    std::string errors;
    EXPECT_EQ(Scan({"--database", folder.Path() + "missing.xml"}, output, errors), 1);
    EXPECT_NE(errors.find("cannot read the database " + folder.Path() + "missing.xml: No such file or directory"),
              std::string::npos)
        << errors;
    EXPECT_EQ(output, "");
    EXPECT_EQ(Scan({"--json", "--csv"}, output, errors), 1);
    EXPECT_NE(errors.find("--json and --csv cannot be combined"), std::string::npos) << errors;
    EXPECT_EQ(Scan({"--database"}, output, errors), 1);
    EXPECT_NE(errors.find("missing value for --database"), std::string::npos) << errors;
}

}  // namespace
}  // namespace vantrel
