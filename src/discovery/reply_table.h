#pragma once

// The receiving side of a search, without sockets or threads: decodes each datagram, keeps one row per
// device (address and port) for the current round, applies the listed limit, marks registered devices,
// counts what it refuses and queues new and changed rows for the owner. SearchSession drives it under its
// mutex; tests and benchmarks drive it directly.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

#include "discovery/adapter_list.h"
#include "discovery/found_row.h"
#include "discovery/registered_devices.h"
#include "discovery/search_targets.h"
#include "discovery/udp_broadcast_endpoint.h"

namespace vantrel {

// Why an announced address is not a device's address, or null when it can be one (network order).
// 0.0.0.0/8 ("this network"), 255.255.255.255, multicast (224.0.0.0/4) and loopback (127.0.0.0/8).
const char* UnlistableAddressReason(std::uint32_t networkOrderAddress);

class ReplyTable {
public:
    enum class Outcome {
        kListed,           // a new row
        kUpdated,          // a further reply of a listed device
        kProbe,            // a search probe (ours coming back, or another searcher's)
        kMalformed,        // not a search reply
        kEarlierRound,     // arrived before the round's first probe went out
        kRejectedAddress,  // announced an address no device can have
        kOverLimit,        // a new device while the list is full
    };

    explicit ReplyTable(std::size_t maxListed);

    // Empties the rows and the counters; targets are the networks searched beyond the adapters' own.
    void BeginRound(std::uint32_t round, std::vector<SearchTarget> targets);
    // A probe of the round goes out at this time (nanoseconds since the epoch, the clock of the kernel's
    // receive times); replies count for the latest probe sent before they arrived. Gives its number, from 1.
    std::uint32_t BeginProbe(std::int64_t sentNs);
    // Null for none. Rows are marked again; those whose mark changed are queued as updates.
    void SetRegistered(std::shared_ptr<const RegisteredDevices> registered);

    // One datagram. A datagram without a kernel time counts as arriving now.
    Outcome Ingest(const ReceivedDatagram& datagram, const AdapterList& adapters);

    // Up to max queued rows: new ones in number order first, then updated ones.
    PendingRows TakePending(std::size_t max);
    std::size_t Pending() const;
    const std::vector<FoundRow>& Rows() const { return rows_; }

    // The table's part of the status: round, listed, registered, pending, limit and counters.
    void FillStatus(SessionStatus& status) const;

private:
    void Queue(std::size_t index);

    std::size_t maxListed_;
    std::uint32_t round_ = 0;
    std::vector<SearchTarget> targets_;
    std::vector<std::int64_t> probeTimes_;
    std::shared_ptr<const RegisteredDevices> registered_;

    std::vector<FoundRow> rows_;
    std::vector<std::uint32_t> lastProbe_;                    // per row: the latest probe it answered
    std::unordered_map<std::uint64_t, std::uint32_t> index_;  // DeviceIdentityKey -> row index
    std::size_t registeredRows_ = 0;

    // Rows from delivered_ on have never been handed out; updates_ holds already handed-out rows that changed
    // since, each at most once (queued_).
    std::size_t delivered_ = 0;
    std::vector<std::uint32_t> updates_;
    std::size_t updatesTaken_ = 0;
    std::vector<char> queued_;

    bool limitReached_ = false;
    std::uint64_t notListed_ = 0;
    std::uint64_t datagrams_ = 0;
    std::uint64_t malformed_ = 0;
    std::uint64_t rejectedAddresses_ = 0;
    std::uint64_t earlierRound_ = 0;
    std::uint64_t repeats_ = 0;
};

}  // namespace vantrel
