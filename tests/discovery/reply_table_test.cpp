// The receiving side of a search without sockets: datagrams with chosen senders, adapters and kernel times.
#include "discovery/reply_table.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "discovery/search_protocol.h"
#include "discovery/search_reply_builder.h"

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
    Reply(std::vector<unsigned char> raw, std::int64_t arrivalNs) : bytes(std::move(raw)) {
        Point(arrivalNs, "10.0.0.9", 0);
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

TEST_F(ReplyTableTest, AddressesNoDeviceCanHaveAreRejectedAndCounted) {
    struct Case {
        const char* announced;
        bool listed;
    };
    const Case cases[] = {
        {"0.0.0.0", false},         {"0.1.2.3", false},        {"255.255.255.255", false}, {"224.0.0.1", false},
        {"239.255.255.250", false}, {"127.0.0.1", false},      {"127.255.255.254", false}, {"1.0.0.0", true},
        {"10.0.0.1", true},         {"126.255.255.255", true}, {"128.0.0.1", true},        {"223.255.255.255", true},
        {"169.254.1.1", true},  // link-local: a device without DHCP, still to be found
    };
    table.BeginRound(1, {});
    table.BeginProbe(kT0);
    std::uint64_t rejected = 0;
    for (const Case& c : cases) {
        const auto outcome = Ingest(Reply(c.announced, 80, kT0 + kMs, "10.0.0.9"));
        EXPECT_EQ(outcome, c.listed ? ReplyTable::Outcome::kListed : ReplyTable::Outcome::kRejectedAddress)
            << c.announced;
        EXPECT_EQ(UnlistableAddressReason(Ip(c.announced)) == nullptr, c.listed) << c.announced;
        rejected += c.listed ? 0 : 1;
    }
    EXPECT_EQ(Status().rejectedAddresses, rejected);
    EXPECT_EQ(Status().Rejected(), rejected);
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

}  // namespace
}  // namespace vantrel
