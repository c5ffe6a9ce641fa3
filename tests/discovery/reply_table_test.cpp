// The receiving side of a search without sockets: datagrams with chosen senders, adapters and kernel times.
#include "discovery/reply_table.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "discovery/search_protocol.h"
#include "discovery/search_reply_builder.h"
#include "discovery/ws_discovery_device.h"
#include "neighbour_table.h"
#include "oui_vendors.h"

namespace vantrel {
namespace {

constexpr std::int64_t kMs = 1000000;
constexpr std::int64_t kT0 = 1700000000LL * 1000000000;  // some wall-clock time, in ns

std::uint32_t Ip(const char* text) {
    in_addr address{};
    inet_pton(AF_INET, text, &address);
    return address.s_addr;
}

// One reply datagram as the endpoint hands it over, kept alive with its bytes.
struct Reply {
    std::vector<unsigned char> bytes;
    ReceivedDatagram datagram;

    Reply(const char* announced, std::uint16_t port, std::int64_t arrivalNs, const char* sender = nullptr,
          int interfaceIndex = 0) {
        FoundDevice device;
        device.address = Ip(announced);
        device.subnetMask = Ip("255.255.255.0");
        device.port = port;
        bytes = BuildSearchReply(device);
        Point(arrivalNs, sender != nullptr ? sender : announced, interfaceIndex);
    }
    Reply(std::vector<unsigned char> raw, std::int64_t arrivalNs, const char* sender = "10.0.0.9",
          int interfaceIndex = 0)
        : bytes(std::move(raw)) {
        Point(arrivalNs, sender, interfaceIndex);
    }
    void Point(std::int64_t arrivalNs, const char* sender, int interfaceIndex) {
        datagram.data = bytes.data();
        datagram.length = bytes.size();
        datagram.sender.sin_family = AF_INET;
        datagram.sender.sin_addr.s_addr = Ip(sender);
        datagram.sender.sin_port = htons(5050);
        datagram.interfaceIndex = interfaceIndex;
        datagram.arrivalNs = arrivalNs;
    }
};

class ReplyTableTest : public ::testing::Test {
protected:
    ReplyTable::Outcome Ingest(const Reply& reply) { return table.Ingest(reply.datagram, adapters); }
    SessionStatus Status() const {
        SessionStatus status;
        table.FillStatus(status);
        return status;
    }
    std::vector<std::string> Listed() const {
        std::vector<std::string> texts;
        for (const FoundRow& row : table.Rows()) {
            texts.push_back(AddressText(row.device) + ":" + PortText(row.device));
        }
        return texts;
    }

    ReplyTable table{1000};
    AdapterList adapters;
};

TEST_F(ReplyTableTest, RepliesBeforeTheRoundsFirstProbeBelongToAnEarlierRound) {
    table.BeginRound(1, {});
    table.BeginProbe(kT0);
    EXPECT_EQ(Ingest(Reply("10.0.0.1", 80, kT0 + 5 * kMs)), ReplyTable::Outcome::kListed);

    // Refresh: round 2 starts, and its first probe leaves at kT0 + 100 ms. Round 1's answers still waiting in
    // the socket carry earlier kernel times.
    table.BeginRound(2, {});
    EXPECT_TRUE(table.Rows().empty());
    table.BeginProbe(kT0 + 100 * kMs);
    EXPECT_EQ(Ingest(Reply("10.0.0.2", 80, kT0 + 99 * kMs)), ReplyTable::Outcome::kEarlierRound);
    EXPECT_EQ(Ingest(Reply("10.0.0.1", 80, kT0 + 6 * kMs)), ReplyTable::Outcome::kEarlierRound);
    EXPECT_EQ(Ingest(Reply("10.0.0.3", 80, kT0 + 101 * kMs)), ReplyTable::Outcome::kListed);
    // the first probe of the new round has not gone out yet: nothing can be an answer to it
    table.BeginRound(3, {});
    EXPECT_EQ(Ingest(Reply("10.0.0.3", 80, kT0 + 200 * kMs)), ReplyTable::Outcome::kEarlierRound);

    table.BeginRound(4, {});
    table.BeginProbe(kT0 + 300 * kMs);
    Ingest(Reply("10.0.0.4", 80, kT0 + 301 * kMs));
    ASSERT_EQ(table.Rows().size(), 1u);
    EXPECT_EQ(table.Rows()[0].number, 1u);
    EXPECT_EQ(table.Rows()[0].round, 4u);
    EXPECT_EQ(Status().earlierRound, 0u) << "counters start again with each round";
}

TEST_F(ReplyTableTest, OneRowPerAddressAndPortCountingTheDistinctProbesAnswered) {
    table.BeginRound(1, {});
    table.BeginProbe(kT0);
    Ingest(Reply("10.0.0.1", 80, kT0 + 1 * kMs));
    Ingest(Reply("10.0.0.1", 80, kT0 + 2 * kMs));  // the same probe answered twice
    Ingest(Reply("10.0.0.1", 81, kT0 + 3 * kMs));  // another port: another device
    Ingest(Reply("10.0.0.2", 80, kT0 + 4 * kMs));
    table.BeginProbe(kT0 + 500 * kMs);
    Ingest(Reply("10.0.0.1", 80, kT0 + 501 * kMs));
    table.BeginProbe(kT0 + 1500 * kMs);
    Ingest(Reply("10.0.0.1", 80, kT0 + 1501 * kMs));
    Ingest(Reply("10.0.0.2", 80, kT0 + 1502 * kMs));

    EXPECT_EQ(Listed(), (std::vector<std::string>{"10.0.0.1:80", "10.0.0.1:81", "10.0.0.2:80"}));
    const std::vector<FoundRow>& rows = table.Rows();
    EXPECT_EQ(rows[0].probesSeen, 3u);
    EXPECT_EQ(rows[0].replies, 4u);
    EXPECT_EQ(rows[0].firstReplyNs, kT0 + 1 * kMs);
    EXPECT_EQ(rows[0].lastReplyNs, kT0 + 1501 * kMs);
    EXPECT_EQ(rows[1].probesSeen, 1u);
    EXPECT_EQ(rows[2].probesSeen, 2u) << "answered the first and the third probe";
    EXPECT_EQ(rows[2].number, 3u);
    EXPECT_EQ(Status().repeats, 4u);
}

TEST_F(ReplyTableTest, FullListRefusesNewDevicesButKeepsUpdatingListedOnes) {
    ReplyTable small(3);
    small.BeginRound(1, {});
    small.BeginProbe(kT0);
    for (int i = 1; i <= 5; ++i) {
        const std::string address = "10.0.0." + std::to_string(i);
        const auto outcome = small.Ingest(Reply(address.c_str(), 80, kT0 + i * kMs).datagram, adapters);
        EXPECT_EQ(outcome, i <= 3 ? ReplyTable::Outcome::kListed : ReplyTable::Outcome::kOverLimit) << i;
    }
    EXPECT_EQ(small.Ingest(Reply("10.0.0.2", 80, kT0 + 9 * kMs).datagram, adapters), ReplyTable::Outcome::kUpdated);
    EXPECT_EQ(small.Ingest(Reply("10.0.0.5", 80, kT0 + 9 * kMs).datagram, adapters), ReplyTable::Outcome::kOverLimit);

    SessionStatus status;
    small.FillStatus(status);
    EXPECT_EQ(status.listed, 3u);
    EXPECT_TRUE(status.listedLimitReached);
    EXPECT_EQ(status.listedLimit, 3u);
    EXPECT_EQ(status.notListed, 3u);
    EXPECT_EQ(small.Rows()[1].replies, 2u);
    status.state = SearchState::kFinished;
    EXPECT_EQ(DescribeStatus(status), "3 devices found; list full at 3 devices, 3 more not listed");

    small.BeginRound(2, {});
    small.FillStatus(status);
    EXPECT_FALSE(status.listedLimitReached);
}

TEST_F(ReplyTableTest, WaitingRowsStayBoundedByTheDevicesAndGoOutOnceInTheirLatestState) {
    table.BeginRound(1, {});
    table.BeginProbe(kT0);
    // 100 devices answering 50 times each while the owner takes nothing
    for (int round = 0; round < 50; ++round) {
        for (int d = 0; d < 100; ++d) {
            const std::string address = "10.0.1." + std::to_string(d + 1);
            Ingest(Reply(address.c_str(), 80, kT0 + (round * 100 + d + 1) * kMs));
        }
    }
    EXPECT_EQ(table.Pending(), 100u);

    std::vector<std::uint32_t> numbers;
    for (;;) {
        const PendingRows batch = table.TakePending(30);
        EXPECT_LE(batch.rows.size(), 30u);
        EXPECT_EQ(batch.round, 1u);
        for (const FoundRow& row : batch.rows) {
            numbers.push_back(row.number);
            EXPECT_EQ(row.replies, 50u) << "handed out in its latest state";
        }
        if (!batch.more) {
            break;
        }
    }
    ASSERT_EQ(numbers.size(), 100u);
    for (std::size_t i = 0; i < numbers.size(); ++i) {
        EXPECT_EQ(numbers[i], i + 1) << "new rows go out in number order";
    }
    EXPECT_EQ(table.Pending(), 0u);

    // rows already handed out come again only when they change, once however often
    Ingest(Reply("10.0.1.7", 80, kT0 + 9000 * kMs));
    Ingest(Reply("10.0.1.7", 80, kT0 + 9001 * kMs));
    Ingest(Reply("10.0.1.3", 80, kT0 + 9002 * kMs));
    Ingest(Reply("10.0.2.1", 80, kT0 + 9003 * kMs));  // a new device
    const PendingRows later = table.TakePending(10);
    ASSERT_EQ(later.rows.size(), 3u);
    EXPECT_EQ(later.rows[0].number, 101u) << "new rows first";
    EXPECT_EQ(later.rows[1].number, 7u);
    EXPECT_EQ(later.rows[1].replies, 52u);
    EXPECT_EQ(later.rows[2].number, 3u);
    EXPECT_FALSE(later.more);
}

TEST_F(ReplyTableTest, ImpossibleAnnouncementsAreRejectedAndUnusualMasksListedWithAWarning) {
    struct Case {
        const char* announced;
        const char* mask;
        std::uint16_t port;
        bool listed;
        const char* warning;
    };
    const Case cases[] = {
        {"0.0.0.0", "255.255.255.0", 80, false, ""},
        {"0.1.2.3", "255.0.0.0", 80, false, ""},
        {"255.255.255.255", "255.255.255.0", 80, false, ""},
        {"224.0.0.1", "255.255.255.0", 80, false, ""},
        {"239.255.255.250", "255.255.255.0", 80, false, ""},
        {"127.0.0.1", "255.0.0.0", 80, false, ""},
        {"240.0.0.1", "255.255.255.0", 80, false, ""},   // reserved
        {"10.0.0.7", "255.255.255.0", 0, false, ""},     // port 0
        {"10.0.1.0", "255.255.255.0", 80, false, ""},    // its subnet's network address
        {"10.0.1.255", "255.255.255.0", 80, false, ""},  // its subnet's broadcast address
        {"10.0.2.5", "255.255.255.252", 80, true, ""},
        {"10.0.2.7", "255.255.255.252", 80, false, ""},  // broadcast of a /30
        {"10.0.2.9", "255.255.255.254", 80, true, ""},   // a /31 has no broadcast address
        {"10.0.3.0", "255.255.0.0", 80, true, ""},       // x.0 inside a /16 is a host
        {"169.254.1.1", "255.255.0.0", 80, true, ""},    // link-local: a device without DHCP, still to be found
        {"223.255.255.254", "255.255.255.0", 80, true, ""},
        {"10.0.4.255", "0.0.0.0", 80, true, "subnet mask 0.0.0.0"},
        {"10.0.5.0", "255.0.255.0", 80, true, "subnet mask 255.0.255.0 is not contiguous"},
    };
    table.BeginRound(1, {});
    table.BeginProbe(kT0);
    std::uint64_t rejected = 0;
    for (const Case& c : cases) {
        FoundDevice device;
        device.address = Ip(c.announced);
        device.subnetMask = Ip(c.mask);
        device.port = c.port;
        Reply reply(BuildSearchReply(device), kT0 + kMs);
        const auto outcome = Ingest(reply);
        EXPECT_EQ(outcome, c.listed ? ReplyTable::Outcome::kListed : ReplyTable::Outcome::kRejectedAddress)
            << c.announced << "/" << c.mask << ":" << c.port;
        if (c.listed) {
            EXPECT_EQ(table.Rows().back().warning, c.warning) << c.announced;
        }
        rejected += c.listed ? 0 : 1;
    }
    EXPECT_EQ(Status().rejectedAddresses, rejected);
    EXPECT_EQ(Status().Rejected(), rejected);
    ASSERT_EQ(Status().adapters.size(), 1u);
    EXPECT_EQ(Status().adapters[0].Rejected(RejectReason::kImpossibleAddress), rejected);
}

TEST_F(ReplyTableTest, OwnProbesAreNotRejectsButMalformedRepliesAre) {
    table.BeginRound(1, {});
    table.BeginProbe(kT0);
    const SearchProbe probe = BuildSearchProbe();
    EXPECT_EQ(Ingest(Reply(std::vector<unsigned char>(probe.begin(), probe.end()), kT0 + kMs)),
              ReplyTable::Outcome::kProbe);
    std::vector<unsigned char> shortReply = Reply("10.0.0.1", 80, 0).bytes;
    shortReply.pop_back();
    EXPECT_EQ(Ingest(Reply(shortReply, kT0 + kMs)), ReplyTable::Outcome::kMalformed);
    EXPECT_EQ(Ingest(Reply(std::vector<unsigned char>(), kT0 + kMs)), ReplyTable::Outcome::kMalformed);

    const SessionStatus status = Status();
    EXPECT_EQ(status.datagrams, 3u);
    EXPECT_EQ(status.malformed, 2u);
    EXPECT_EQ(status.Rejected(), 2u);
    EXPECT_EQ(status.listed, 0u);
}

TEST_F(ReplyTableTest, SenderThatDiffersFromTheAnnouncedAddressIsMarked) {
    table.BeginRound(1, {});
    table.BeginProbe(kT0);
    Ingest(Reply("10.0.0.1", 80, kT0 + kMs, "10.0.0.1"));
    Ingest(Reply("10.0.0.2", 80, kT0 + kMs, "10.0.0.66"));
    const std::vector<FoundRow>& rows = table.Rows();
    EXPECT_FALSE(rows[0].senderMismatch);
    EXPECT_TRUE(rows[1].senderMismatch);
    EXPECT_EQ(DottedDecimal(rows[1].senderAddress), "10.0.0.66");
    EXPECT_EQ(rows[1].senderPort, 5050);
    // the latest reply decides: the genuine device answers again from its own address
    Ingest(Reply("10.0.0.2", 80, kT0 + 2 * kMs, "10.0.0.2"));
    EXPECT_FALSE(table.Rows()[1].senderMismatch);
}

TEST_F(ReplyTableTest, DeviceOutsideTheArrivalAdaptersSubnetsIsMarkedUnlessSearchedThere) {
    adapters.Assign({{2, "wired", Ip("10.1.0.1"), Ip("255.255.255.0")},
                     {3, "lab", Ip("10.2.0.1"), Ip("255.255.255.0")},
                     {3, "lab", Ip("192.168.5.1"), Ip("255.255.255.0")}});
    SearchTarget behindRouter;
    std::string problem;
    ASSERT_TRUE(ParseSearchTarget("172.16.0.0/16", behindRouter, problem)) << problem;
    table.BeginRound(1, {behindRouter});
    table.BeginProbe(kT0);
    Ingest(Reply("10.1.0.50", 80, kT0 + kMs, nullptr, 2));
    Ingest(Reply("192.168.1.108", 80, kT0 + kMs, nullptr, 2));  // factory default next to 10.1.0.0/24
    Ingest(Reply("192.168.5.20", 80, kT0 + kMs, nullptr, 3));   // the adapter's second address fits
    Ingest(Reply("10.1.0.51", 80, kT0 + kMs, nullptr, 3));      // right for the other adapter, wrong for this one
    Ingest(Reply("172.16.4.4", 80, kT0 + kMs, nullptr, 2));     // behind a router, in a searched network
    Ingest(Reply("10.9.9.9", 80, kT0 + kMs, nullptr, 7));       // an adapter the table does not know

    const std::vector<FoundRow>& rows = table.Rows();
    ASSERT_EQ(rows.size(), 6u);
    EXPECT_FALSE(rows[0].outsideAdapterSubnet);
    EXPECT_STREQ(rows[0].adapterName, "wired");
    EXPECT_EQ(DottedDecimal(rows[0].adapterAddress), "10.1.0.1");
    EXPECT_EQ(DottedDecimal(rows[0].adapterMask), "255.255.255.0");
    EXPECT_TRUE(rows[1].outsideAdapterSubnet);
    EXPECT_STREQ(rows[1].adapterName, "wired");
    EXPECT_FALSE(rows[2].outsideAdapterSubnet);
    EXPECT_EQ(DottedDecimal(rows[2].adapterAddress), "192.168.5.1");
    EXPECT_TRUE(rows[3].outsideAdapterSubnet);
    EXPECT_STREQ(rows[3].adapterName, "lab");
    EXPECT_FALSE(rows[4].outsideAdapterSubnet);
    EXPECT_FALSE(rows[5].outsideAdapterSubnet) << "no warning without knowing the adapter";
    EXPECT_EQ(rows[5].adapterIndex, 7);
    EXPECT_STREQ(rows[5].adapterName, "");
}

TEST_F(ReplyTableTest, RegisteredDevicesAreMarkedAndANewSetMarksListedRowsAgain) {
    auto registered = std::make_shared<RegisteredDevices>();
    registered->Add("10.0.0.1", 80);
    table.SetRegistered(registered);
    table.BeginRound(1, {});
    table.BeginProbe(kT0);
    Ingest(Reply("10.0.0.1", 80, kT0 + kMs));
    Ingest(Reply("10.0.0.1", 81, kT0 + kMs));
    Ingest(Reply("10.0.0.2", 80, kT0 + kMs));
    EXPECT_TRUE(table.Rows()[0].registered);
    EXPECT_FALSE(table.Rows()[1].registered);
    EXPECT_EQ(Status().registered, 1u);
    EXPECT_EQ(table.TakePending(10).rows.size(), 3u);

    // after an Add the owner hands over the new set: only the rows whose mark changed come again
    auto afterAdd = std::make_shared<RegisteredDevices>();
    afterAdd->Add("10.0.0.1", 80);
    afterAdd->Add("10.0.0.2", 80);
    table.SetRegistered(afterAdd);
    const PendingRows changed = table.TakePending(10);
    ASSERT_EQ(changed.rows.size(), 1u);
    EXPECT_EQ(changed.rows[0].number, 3u);
    EXPECT_TRUE(changed.rows[0].registered);
    SessionStatus status = Status();
    status.state = SearchState::kFinished;
    EXPECT_EQ(DescribeStatus(status), "3 devices found (2 already registered)");

    table.SetRegistered(nullptr);
    EXPECT_EQ(Status().registered, 0u);
    EXPECT_EQ(table.TakePending(10).rows.size(), 2u);
    // the set survives a new round
    table.SetRegistered(afterAdd);
    table.BeginRound(2, {});
    table.BeginProbe(kT0 + 10 * kMs);
    Ingest(Reply("10.0.0.2", 80, kT0 + 11 * kMs));
    EXPECT_TRUE(table.Rows()[0].registered);
}

std::vector<unsigned char> ProbeMatches(const std::string& relatesTo, const OnvifMatch& device) {
    const std::string text = BuildWsDiscoveryProbeMatches(relatesTo, device);
    return {text.begin(), text.end()};
}

OnvifMatch Camera(const char* endpoint, const char* name) {
    OnvifMatch camera;
    camera.endpoint = endpoint;
    camera.name = name;
    camera.model = "NVT-200";
    camera.location = "site/hall 1";
    camera.xaddrs = {"http://192.0.2.1/onvif/device_service", "http://10.0.0.5/onvif/device_service"};
    return camera;
}

TEST_F(ReplyTableTest, OnvifAnswersJoinTheNativeRowAtTheirAddressOrListADeviceOfTheirOwn) {
    table.BeginRound(1, {});
    table.BeginProbe(kT0, {"urn:uuid:ours-1", "urn:uuid:ours-2"});
    // a recorder answering both searches, the ONVIF answer first
    EXPECT_EQ(Ingest(Reply(ProbeMatches("urn:uuid:ours-1", Camera("urn:uuid:rec", "Recorder")), kT0 + kMs, "10.0.0.5")),
              ReplyTable::Outcome::kListed);
    EXPECT_FALSE(table.Rows()[0].portKnown);
    EXPECT_EQ(Ingest(Reply("10.0.0.5", 8000, kT0 + 2 * kMs)), ReplyTable::Outcome::kUpdated);
    // a camera answering ONVIF only, and one answering both, native first
    Ingest(Reply(ProbeMatches("urn:uuid:ours-2", Camera("urn:uuid:cam", "Gate")), kT0 + 3 * kMs, "10.0.0.6"));
    Ingest(Reply("10.0.0.7", 80, kT0 + 4 * kMs));
    Ingest(Reply(ProbeMatches("urn:uuid:ours-2", Camera("urn:uuid:cam7", "Hall")), kT0 + 5 * kMs, "10.0.0.7"));
    // someone else's search, and a datagram that only looks like XML
    EXPECT_EQ(Ingest(Reply(ProbeMatches("urn:uuid:theirs", Camera("urn:uuid:x", "X")), kT0 + 6 * kMs, "10.0.0.8")),
              ReplyTable::Outcome::kNotOurs);
    const std::string broken = "<not xml & such";
    EXPECT_EQ(Ingest(Reply({broken.begin(), broken.end()}, kT0 + 6 * kMs)), ReplyTable::Outcome::kMalformed);

    EXPECT_EQ(Listed(), (std::vector<std::string>{"10.0.0.5:8000", "10.0.0.6:0", "10.0.0.7:80"}));
    const FoundRow& recorder = table.Rows()[0];
    EXPECT_TRUE(recorder.portKnown);
    EXPECT_EQ(recorder.protocols, kProtocolNative | kProtocolOnvif);
    EXPECT_EQ(recorder.name, "Recorder");
    EXPECT_EQ(recorder.model, "NVT-200");
    EXPECT_EQ(recorder.location, "site/hall 1");
    EXPECT_EQ(recorder.serviceUrls, (std::vector<std::string>{"http://10.0.0.5/onvif/device_service",
                                                              "http://192.0.2.1/onvif/device_service"}))
        << "the URL at the sender's address first";
    EXPECT_EQ(recorder.probesSeen, 1u) << "both answers belong to the one probe";
    EXPECT_FALSE(recorder.conflict);
    const FoundRow& camera = table.Rows()[1];
    EXPECT_FALSE(camera.portKnown);
    EXPECT_EQ(camera.protocols, kProtocolOnvif);
    EXPECT_EQ(camera.endpoint, "urn:uuid:cam");
    EXPECT_EQ(table.Rows()[2].protocols, kProtocolNative | kProtocolOnvif);
    EXPECT_EQ(table.Rows()[2].name, "Hall");

    const SessionStatus status = Status();
    ASSERT_EQ(status.adapters.size(), 1u);
    EXPECT_EQ(status.adapters[0].received, 7u);
    EXPECT_EQ(status.adapters[0].accepted, 5u);
    EXPECT_EQ(status.adapters[0].Rejected(RejectReason::kNotOurs), 1u);
    EXPECT_EQ(status.adapters[0].Rejected(RejectReason::kNotReply), 1u);
}

TEST_F(ReplyTableTest, ConflictingAnswersForOneAddressAndPortAreMarkedWithEverySender) {
    table.BeginRound(1, {});
    table.BeginProbe(kT0);
    Ingest(Reply("10.0.0.1", 80, kT0 + kMs));
    Ingest(Reply("10.0.0.1", 80, kT0 + 2 * kMs));  // the same device again: no conflict
    EXPECT_FALSE(table.Rows()[0].conflict);
    Ingest(Reply("10.0.0.1", 80, kT0 + 3 * kMs, "10.0.0.66"));  // a forged reply after the real one
    EXPECT_TRUE(table.Rows()[0].conflict);
    EXPECT_EQ(table.Rows()[0].senders, (std::vector<std::uint32_t>{Ip("10.0.0.1"), Ip("10.0.0.66")}));

    // two factory-default devices at one address, from one sender's point of view: their bytes differ
    FoundDevice first;
    first.address = Ip("10.0.0.2");
    first.subnetMask = Ip("255.255.255.0");
    first.port = 80;
    FoundDevice second = first;
    second.gateway = Ip("10.0.0.254");
    Ingest(Reply(BuildSearchReply(first), kT0 + 4 * kMs, "10.0.0.2"));
    Ingest(Reply(BuildSearchReply(second), kT0 + 5 * kMs, "10.0.0.2"));
    EXPECT_TRUE(table.Rows()[1].conflict);
    EXPECT_EQ(table.Rows()[1].senders.size(), 1u);
}

TEST_F(ReplyTableTest, OneSenderFloodingForgedRepliesCannotCrowdOutRealDevices) {
    ReplyTable small(1000, 10);
    small.BeginRound(1, {});
    small.BeginProbe(kT0);
    // 5,000 devices announced by one host, before the real devices answer
    for (int i = 0; i < 5000; ++i) {
        const std::string address = "10.9." + std::to_string(i / 250) + "." + std::to_string(i % 250 + 1);
        small.Ingest(Reply(address.c_str(), 80, kT0 + kMs, "10.0.0.66").datagram, adapters);
    }
    for (int i = 1; i <= 50; ++i) {
        const std::string address = "10.0.0." + std::to_string(i);
        EXPECT_EQ(small.Ingest(Reply(address.c_str(), 80, kT0 + 2 * kMs).datagram, adapters),
                  ReplyTable::Outcome::kListed)
            << address;
    }
    // a gateway announcing a few devices behind it keeps its place
    EXPECT_EQ(small.Ingest(Reply("172.16.0.9", 80, kT0 + 3 * kMs, "10.0.0.1").datagram, adapters),
              ReplyTable::Outcome::kListed);

    SessionStatus status;
    small.FillStatus(status);
    EXPECT_EQ(status.listed, 10u + 50u + 1u);
    EXPECT_EQ(status.droppedOverShare, 4990u);
    ASSERT_EQ(status.droppedBySender.size(), 1u);
    EXPECT_EQ(DottedDecimal(status.droppedBySender[0].sender), "10.0.0.66");
    EXPECT_EQ(status.droppedBySender[0].dropped, 4990u);
    status.state = SearchState::kFinished;
    EXPECT_EQ(DescribeStatus(status),
              "61 devices found; 4990 replies dropped from 10.0.0.66 (more devices than one "
              "sender may announce)");
}

TEST_F(ReplyTableTest, DevicesOnALocalLinkGetTheirMacAndMakerFromTheNeighbourTable) {
    adapters.Assign({{2, "wired", Ip("10.1.0.1"), Ip("255.255.255.0")}});
    table.BeginRound(1, {});
    table.BeginProbe(kT0, {"urn:uuid:ours"});
    Ingest(Reply("10.1.0.50", 80, kT0 + kMs, nullptr, 2));
    Ingest(Reply("172.16.0.5", 80, kT0 + kMs, nullptr, 2));  // behind a router: no MAC of its own here
    OnvifMatch remote = Camera("urn:uuid:remote", "Remote");
    remote.mac = "00:1a:2b:00:00:09";  // told in its scopes
    Ingest(Reply(ProbeMatches("urn:uuid:ours", remote), kT0 + kMs, "172.16.0.9", 2));
    EXPECT_TRUE(table.WantsMacs());
    EXPECT_EQ(table.TakePending(10).rows.size(), 3u);

    const NeighbourTable neighbours = NeighbourTable::Parse(
        "IP address       HW type     Flags       HW address            Mask     Device\n"
        "10.1.0.50        0x1         0x2         00:1A:2B:3C:4D:5E     *        wired\n"
        "172.16.0.5       0x1         0x2         00:1a:2b:99:99:99     *        wired\n");
    OuiVendors vendors;
    vendors.Parse("00-1A-2B   (hex)\t\tExample Cameras Ltd\n");
    table.ResolveMacs(neighbours, &vendors);
    const PendingRows changed = table.TakePending(10);
    ASSERT_EQ(changed.rows.size(), 2u);
    EXPECT_EQ(changed.rows[0].mac, "00:1a:2b:3c:4d:5e");
    EXPECT_EQ(changed.rows[0].vendor, "Example Cameras Ltd");
    EXPECT_EQ(changed.rows[1].mac, "00:1a:2b:00:00:09");
    EXPECT_EQ(table.Rows()[1].mac, "") << "an entry for an address off the link is not the device's";
    EXPECT_FALSE(table.WantsMacs()) << "172.16.0.5 is not looked up at all";
}

}  // namespace
}  // namespace vantrel
