#pragma once

// When the probes of one search round go out, as a pure function of a clock the caller passes in: the round's
// probes at fixed delays after its start, each followed by a sweep of unicast probes over the round's ranges
// at a fixed rate, and the round's end a settle time after the last probe has gone. The caller asks what is
// due (Next), carries it out and says so (Done), or puts it off while the socket is full (Postpone).

#include <cstddef>
#include <cstdint>
#include <vector>

#include "discovery/search_targets.h"

namespace vantrel {

struct ProbeScheduleOptions {
    std::vector<int> probeDelaysMs;  // after the round's start; ascending
    int settleMs = 0;                // the round ends this long after its last probe
    unsigned unicastProbesPerSecond = 1;
};

class ProbeSchedule {
public:
    struct Step {
        enum class Kind {
            kWait,          // nothing before atNs
            kRoundProbe,    // the round's probe number `probe` (from 1) is due
            kUnicastProbe,  // the unicast probe to `address` (host order) of the sweep after probe `probe`
            kFinished,      // every probe has gone and the settle time has passed, or Stop was called
        };
        Kind kind = Kind::kFinished;
        std::int64_t atNs = 0;
        std::uint32_t probe = 0;
        std::uint32_t address = 0;
    };

    explicit ProbeSchedule(ProbeScheduleOptions options);

    // A new round starting at nowNs (nanoseconds of any monotonic clock), sweeping the ranges among targets.
    void Begin(std::int64_t nowNs, std::vector<SearchTarget> targets);
    // Ends the round at once.
    void Stop();

    // What is due at nowNs. Asking again without Done or Postpone gives the same step.
    Step Next(std::int64_t nowNs) const;
    // The step Next gave was carried out (or failed for good) at nowNs.
    void Done(std::int64_t nowNs);
    // The step Next gave cannot be carried out before untilNs (a full send buffer).
    void Postpone(std::int64_t untilNs);

    std::uint32_t ProbesPlanned() const { return static_cast<std::uint32_t>(options_.probeDelaysMs.size()); }
    const std::vector<SearchTarget>& Targets() const { return targets_; }

private:
    // Moves the sweep to the next address still to probe; ends it (sweeping_ false) when none is left.
    void SettleSweep(std::int64_t nowNs);

    ProbeScheduleOptions options_;
    std::vector<SearchTarget> targets_;
    std::int64_t startNs_ = 0;
    std::size_t nextProbe_ = 0;  // index into probeDelaysMs of the next round probe
    std::int64_t lastProbeDoneNs_ = 0;
    std::int64_t postponedUntilNs_ = 0;
    bool stopped_ = true;
    bool sweeping_ = false;
    std::size_t sweepTarget_ = 0;
    std::uint64_t sweepOffset_ = 0;
    std::uint64_t sweepSent_ = 0;
    std::int64_t sweepStartNs_ = 0;
};

}  // namespace vantrel
