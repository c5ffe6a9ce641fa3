#include "discovery/search_targets.h"

#include <gtest/gtest.h>

#include <string>

namespace vantrel {
namespace {

TEST(SearchTargets, NetworksRangesAndSingleAddressesAreUnderstood) {
    struct Case {
        const char* text;
        SearchTarget::Kind kind;
        const char* normalised;
        std::uint32_t first;
        std::uint32_t last;
    };
    const Case cases[] = {
        {"10.1.2.0/24", SearchTarget::Kind::kDirectedBroadcast, "10.1.2.0/24", 0x0A010200u, 0x0A0102FFu},
        {"  10.1.2.77/24 ", SearchTarget::Kind::kDirectedBroadcast, "10.1.2.0/24", 0x0A010200u, 0x0A0102FFu},
        {"172.16.0.0/12", SearchTarget::Kind::kDirectedBroadcast, "172.16.0.0/12", 0xAC100000u, 0xAC1FFFFFu},
        {"10.0.0.0/8", SearchTarget::Kind::kDirectedBroadcast, "10.0.0.0/8", 0x0A000000u, 0x0AFFFFFFu},
        {"192.168.1.6/31", SearchTarget::Kind::kUnicastRange, "192.168.1.6/31", 0xC0A80106u, 0xC0A80107u},
        {"192.168.1.6/32", SearchTarget::Kind::kUnicastRange, "192.168.1.6/32", 0xC0A80106u, 0xC0A80106u},
        {"10.1.2.10-10.1.2.50", SearchTarget::Kind::kUnicastRange, "10.1.2.10-10.1.2.50", 0x0A01020Au, 0x0A010232u},
        {"10.1.2.10 - 10.1.3.5", SearchTarget::Kind::kUnicastRange, "10.1.2.10-10.1.3.5", 0x0A01020Au, 0x0A010305u},
        {"10.1.2.7-10.1.2.7", SearchTarget::Kind::kUnicastRange, "10.1.2.7-10.1.2.7", 0x0A010207u, 0x0A010207u},
        {"10.1.2.7", SearchTarget::Kind::kUnicastRange, "10.1.2.7", 0x0A010207u, 0x0A010207u},
        {"10.0.0.0-10.0.255.255", SearchTarget::Kind::kUnicastRange, "10.0.0.0-10.0.255.255", 0x0A000000u, 0x0A00FFFFu},
    };
    for (const Case& c : cases) {
        SearchTarget target;
        std::string problem = "stale";
        ASSERT_TRUE(ParseSearchTarget(c.text, target, problem)) << c.text << ": " << problem;
        EXPECT_TRUE(problem.empty()) << c.text;
        EXPECT_EQ(target.kind, c.kind) << c.text;
        EXPECT_EQ(target.text, c.normalised) << c.text;
        EXPECT_EQ(target.first, c.first) << c.text;
        EXPECT_EQ(target.last, c.last) << c.text;
        EXPECT_TRUE(target.Contains(c.first) && target.Contains(c.last)) << c.text;
        EXPECT_FALSE(target.Contains(c.last + 1) || target.Contains(c.first - 1)) << c.text;
    }
    SearchTarget range;
    std::string problem;
    ASSERT_TRUE(ParseSearchTarget("10.1.2.10-10.1.2.50", range, problem));
    EXPECT_EQ(range.ProbeCount(), 41u);
    ASSERT_TRUE(ParseSearchTarget("10.1.2.0/24", range, problem));
    EXPECT_EQ(range.ProbeCount(), 1u) << "one directed broadcast";
}

TEST(SearchTargets, BadInputIsRefusedWithAMessageThatNamesTheProblem) {
    struct Case {
        const char* text;
        const char* inMessage;
    };
    const Case cases[] = {
        {"", "give a network"},
        {"   ", "give a network"},
        {"10.1.2", "not an IPv4 address"},
        {"10.1.2.256/24", "'10.1.2.256' is not an IPv4 address"},
        {"10.1.2.0/", "prefix length"},
        {"10.1.2.0/33", "prefix length"},
        {"10.1.2.0/-1", "prefix length"},
        {"10.1.2.0/24x", "prefix length"},
        {"10.1.2.0/+24", "prefix length"},
        {"10.0.0.0/7", "wider than /8"},
        {"10.1.2.0/24-10.1.2.9", "prefix length"},
        {"10.1.2.50-10.1.2.10", "ends before it starts"},
        {"10.1.2.10-", "'' is not an IPv4 address"},
        {"-10.1.2.10", "'' is not an IPv4 address"},
        {"10.1.2.10-10.1.2.x", "'10.1.2.x' is not an IPv4 address"},
        {"10.0.0.0-10.1.0.0", "65537 addresses"},
        {"127.0.0.1", "loopback"},
        {"126.255.255.0-127.0.0.3", "loopback"},
        {"224.0.0.0/8", "multicast"},
        {"255.255.255.255", "240.0.0.0/4"},
        {"0.0.0.0/8", "0.0.0.0/8"},
        {"0.0.0.5", "0.0.0.0/8"},
        {"example.com", "not an IPv4 address"},
        {"10.1.2.3 10.1.2.4", "not an IPv4 address"},
    };
    SearchTarget embedded;
    std::string why;
    EXPECT_FALSE(ParseSearchTarget(std::string("10.1.2.3\0-10.1.2.9", 18), embedded, why)) << "a NUL inside";
    for (const Case& c : cases) {
        SearchTarget target;
        target.text = "untouched";
        std::string problem;
        EXPECT_FALSE(ParseSearchTarget(c.text, target, problem)) << c.text;
        EXPECT_NE(problem.find(c.inMessage), std::string::npos) << c.text << " -> " << problem;
        EXPECT_EQ(target.text, "untouched") << c.text;
    }
}

TEST(SearchTargets, UnicastAddressesOfAllTargetsTogetherAreBounded) {
    SearchTarget a;
    SearchTarget b;
    SearchTarget network;
    std::string problem;
    ASSERT_TRUE(ParseSearchTarget("10.0.0.0-10.0.255.255", a, problem));
    ASSERT_TRUE(ParseSearchTarget("10.5.0.1", b, problem));
    ASSERT_TRUE(ParseSearchTarget("10.0.0.0/8", network, problem));
    EXPECT_TRUE(CheckUnicastTotal({a, network}, problem)) << "a directed broadcast is one probe";
    EXPECT_FALSE(CheckUnicastTotal({a, b}, problem));
    EXPECT_NE(problem.find("65537"), std::string::npos) << problem;
}

}  // namespace
}  // namespace vantrel
