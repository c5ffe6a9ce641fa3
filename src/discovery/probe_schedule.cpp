#include "discovery/probe_schedule.h"

#include <algorithm>

namespace vantrel {
namespace {

constexpr std::int64_t kNsPerMs = 1000000;
constexpr std::int64_t kNsPerSecond = 1000000000;

}  // namespace

ProbeSchedule::ProbeSchedule(ProbeScheduleOptions options) : options_(std::move(options)) {}

void ProbeSchedule::Begin(std::int64_t nowNs, std::vector<SearchTarget> targets) {
    targets_ = std::move(targets);
    startNs_ = nowNs;
    nextProbe_ = 0;
    lastProbeDoneNs_ = nowNs;
    postponedUntilNs_ = 0;
    stopped_ = false;
    sweeping_ = false;
}

void ProbeSchedule::Stop() {
    stopped_ = true;
    sweeping_ = false;
}

ProbeSchedule::Step ProbeSchedule::Next(std::int64_t nowNs) const {
    Step step;
    if (stopped_) {
        return step;
    }
    const auto waitUntil = [&](std::int64_t dueNs) {
        step.kind = Step::Kind::kWait;
        step.atNs = dueNs;
        return step;
    };
    if (postponedUntilNs_ > nowNs) {
        return waitUntil(postponedUntilNs_);
    }
    if (sweeping_) {
        const std::int64_t spacing = kNsPerSecond / std::max(1u, options_.unicastProbesPerSecond);
        const std::int64_t due = sweepStartNs_ + static_cast<std::int64_t>(sweepSent_) * spacing;
        if (due > nowNs) {
            return waitUntil(due);
        }
        step.kind = Step::Kind::kUnicastProbe;
        step.probe = static_cast<std::uint32_t>(nextProbe_);
        step.address = targets_[sweepTarget_].first + static_cast<std::uint32_t>(sweepOffset_);
        return step;
    }
    if (nextProbe_ < options_.probeDelaysMs.size()) {
        // a long sweep pushes the following probes back rather than overlapping them
        const std::int64_t due = std::max(startNs_ + options_.probeDelaysMs[nextProbe_] * kNsPerMs, lastProbeDoneNs_);
        if (due > nowNs) {
            return waitUntil(due);
        }
        step.kind = Step::Kind::kRoundProbe;
        step.probe = static_cast<std::uint32_t>(nextProbe_ + 1);
        return step;
    }
    const std::int64_t finishAt = lastProbeDoneNs_ + options_.settleMs * kNsPerMs;
    if (finishAt > nowNs) {
        return waitUntil(finishAt);
    }
    return step;
}

void ProbeSchedule::Done(std::int64_t nowNs) {
    postponedUntilNs_ = 0;
    if (stopped_) {
        return;
    }
    if (sweeping_) {
        ++sweepOffset_;
        ++sweepSent_;
    } else if (nextProbe_ < options_.probeDelaysMs.size()) {
        ++nextProbe_;
        sweeping_ = true;
        sweepTarget_ = 0;
        sweepOffset_ = 0;
        sweepSent_ = 0;
        sweepStartNs_ = nowNs;
    } else {
        return;
    }
    SettleSweep(nowNs);
}

void ProbeSchedule::Postpone(std::int64_t untilNs) {
    postponedUntilNs_ = untilNs;
}

void ProbeSchedule::SettleSweep(std::int64_t nowNs) {
    while (sweepTarget_ < targets_.size()) {
        const SearchTarget& target = targets_[sweepTarget_];
        if (target.kind == SearchTarget::Kind::kUnicastRange && sweepOffset_ < target.ProbeCount()) {
            return;
        }
        ++sweepTarget_;
        sweepOffset_ = 0;
    }
    sweeping_ = false;
    lastProbeDoneNs_ = nowNs;
}

}  // namespace vantrel
