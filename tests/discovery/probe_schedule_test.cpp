// The probe schedule on a clock the test turns: exact steps at exact times, no sleeping.
#include "discovery/probe_schedule.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vantrel {
namespace {

using Kind = ProbeSchedule::Step::Kind;
constexpr std::int64_t kMs = 1000000;
constexpr std::int64_t kStart = 5000 * kMs;  // any monotonic time

SearchTarget Range(const char* text) {
    SearchTarget target;
    std::string problem;
    EXPECT_TRUE(ParseSearchTarget(text, target, problem)) << problem;
    return target;
}

// Carries out every step due up to `until`, recording "P<n>@ms" for round probes and counting unicast ones.
struct Driver {
    explicit Driver(ProbeSchedule& driven) : schedule(driven) {}
    ProbeSchedule& schedule;
    std::vector<std::string> log;
    std::uint64_t unicast = 0;

    Kind RunUntil(std::int64_t until) {
        for (;;) {
            const ProbeSchedule::Step step = schedule.Next(until);
            if (step.kind == Kind::kWait || step.kind == Kind::kFinished) {
                return step.kind;
            }
            const std::int64_t at = std::max(step.atNs, until);
            if (step.kind == Kind::kRoundProbe) {
                log.push_back("P" + std::to_string(step.probe));
            } else {
                ++unicast;
            }
            schedule.Done(at);
        }
    }
};

TEST(ProbeSchedule, RoundProbesFollowTheDelaysAndTheRoundEndsAfterTheSettleTime) {
    ProbeSchedule schedule({{0, 500, 1500}, 1000, 2000});
    schedule.Begin(kStart, {});
    EXPECT_EQ(schedule.ProbesPlanned(), 3u);
    struct Expectation {
        std::int64_t atMs;
        Kind kind;
        std::uint32_t probe;
        std::int64_t waitUntilMs;
    };
    const Expectation steps[] = {
        {0, Kind::kRoundProbe, 1, 0},   {0, Kind::kWait, 0, 500},     {499, Kind::kWait, 0, 500},
        {500, Kind::kRoundProbe, 2, 0}, {1499, Kind::kWait, 0, 1500}, {1600, Kind::kRoundProbe, 3, 0},
        {1600, Kind::kWait, 0, 2600},   {2599, Kind::kWait, 0, 2600}, {2600, Kind::kFinished, 0, 0},
    };
    for (const Expectation& expected : steps) {
        const ProbeSchedule::Step step = schedule.Next(kStart + expected.atMs * kMs);
        ASSERT_EQ(step.kind, expected.kind) << "at " << expected.atMs << " ms";
        if (step.kind == Kind::kRoundProbe) {
            EXPECT_EQ(step.probe, expected.probe);
            EXPECT_EQ(schedule.Next(kStart + expected.atMs * kMs).probe, expected.probe) << "asking again";
            schedule.Done(kStart + expected.atMs * kMs);
        } else if (step.kind == Kind::kWait) {
            EXPECT_EQ(step.atNs, kStart + expected.waitUntilMs * kMs) << "at " << expected.atMs << " ms";
        }
    }
    // a late probe (1600 for 1500) moved the end with it; Stop ends a round at once
    schedule.Begin(kStart, {});
    schedule.Stop();
    EXPECT_EQ(schedule.Next(kStart).kind, Kind::kFinished);
}

TEST(ProbeSchedule, RangeSweepIsPacedAndPushesTheNextProbeBack) {
    ProbeSchedule schedule({{0, 100}, 50, 2000});  // a probe every 0.5 ms
    schedule.Begin(kStart, {Range("10.2.0.1-10.2.7.255"), Range("10.3.0.0/24"), Range("10.4.0.1")});
    Driver driver(schedule);
    driver.RunUntil(kStart);
    EXPECT_EQ(driver.log, std::vector<std::string>{"P1"});
    EXPECT_EQ(driver.unicast, 1u) << "the first address goes with the probe";

    driver.RunUntil(kStart + 300 * kMs);
    EXPECT_EQ(driver.unicast, 601u) << "0.5 ms apart, none early, none skipped";
    EXPECT_EQ(driver.log.size(), 1u) << "probe 2 waits for the sweep, due at 100 ms";

    // 500 addresses of a range and a single one: 501 probes, 0.5 ms apart, so the sweep ends at 250 ms
    ProbeSchedule small({{0, 100}, 50, 2000});
    small.Begin(kStart, {Range("10.2.0.1-10.2.1.244"), Range("10.4.0.1")});
    std::vector<std::uint32_t> addresses;
    std::int64_t secondProbeAt = 0;
    for (std::int64_t t = kStart; secondProbeAt == 0 && t < kStart + 1000 * kMs; t += kMs / 2) {
        for (ProbeSchedule::Step step = small.Next(t); step.kind != Kind::kWait; step = small.Next(t)) {
            ASSERT_NE(step.kind, Kind::kFinished);
            if (step.kind == Kind::kUnicastProbe) {
                addresses.push_back(step.address);
            } else if (step.probe == 2) {
                secondProbeAt = t;
                break;
            }
            small.Done(t);
        }
    }
    EXPECT_EQ(secondProbeAt, kStart + 250 * kMs) << "probe 2 leaves when the sweep of probe 1 has ended";
    ASSERT_EQ(addresses.size(), 501u);
    EXPECT_EQ(addresses.front(), 0x0A020001u);
    EXPECT_EQ(addresses[499], 0x0A0201F4u);
    EXPECT_EQ(addresses.back(), 0x0A040001u);
}

TEST(ProbeSchedule, PostponedUnicastProbeIsDueAgainLaterWithoutLosingItsAddress) {
    ProbeSchedule schedule({{0}, 10, 1000});
    schedule.Begin(kStart, {Range("10.2.0.1-10.2.0.3")});
    schedule.Done(kStart);  // probe 1
    const ProbeSchedule::Step first = schedule.Next(kStart);
    ASSERT_EQ(first.kind, Kind::kUnicastProbe);
    schedule.Postpone(kStart + 2 * kMs);
    EXPECT_EQ(schedule.Next(kStart + kMs).kind, Kind::kWait);
    EXPECT_EQ(schedule.Next(kStart + 2 * kMs).address, first.address);
    schedule.Done(kStart + 2 * kMs);
    // the pace counts from the sweep's start: behind it, the next address is due at once
    EXPECT_EQ(schedule.Next(kStart + 2 * kMs).kind, Kind::kUnicastProbe);
    EXPECT_EQ(schedule.Next(kStart + 2 * kMs).address, first.address + 1);
}

}  // namespace
}  // namespace vantrel
