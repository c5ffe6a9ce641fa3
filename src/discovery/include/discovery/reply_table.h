#pragma once

// The receiving side of a search, without sockets or threads: decodes each datagram (native search replies and
// WS-Discovery ProbeMatches), keeps one row per device for the current round, applies the sender share and the
// listed limit, marks registered devices, fills in MACs and makers, counts what it refuses per adapter and
// queues new and changed rows for the owner. SearchSession drives it under its mutex; tests and benchmarks
// drive it directly.
//
// One row per device: native replies are one device per announced address and port. A ProbeMatches is the
// device at its sender's address: it joins the first row listed at that address, or becomes a row of its own
// whose port is unknown, which a later native reply for that address completes.

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "discovery/adapter_list.h"
#include "discovery/announced_values.h"
#include "discovery/found_row.h"
#include "discovery/registered_devices.h"
#include "discovery/search_targets.h"
#include "discovery/sender_share.h"
#include "discovery/udp_broadcast_endpoint.h"

namespace vantrel {

class NeighbourTable;
class OuiVendors;
struct OnvifMatch;

class ReplyTable {
public:
    enum class Outcome {
        kListed,           // a new row
        kUpdated,          // a further reply of a listed device
        kProbe,            // a search probe (ours coming back, or another searcher's)
        kMalformed,        // not a search reply
        kEarlierRound,     // arrived before the round's first probe went out
        kRejectedAddress,  // announced an address or port no device can have
        kOverShare,        // a new device from a sender that already announced its share
        kOverLimit,        // a new device while the list is full
        kNotOurs,          // a ProbeMatches answering someone else's probe
        kBadMatch,         // a ProbeMatches for us that holds no usable match
    };

    explicit ReplyTable(std::size_t maxListed, std::size_t maxPerSender = kMaxDevicesPerSender);

    // Empties the rows and the counters; targets are the networks searched beyond the adapters' own.
    void BeginRound(std::uint32_t round, std::vector<SearchTarget> targets);
    // A probe of the round goes out at this time (nanoseconds since the epoch, the clock of the kernel's
    // receive times) with these WS-Discovery MessageIDs; replies count for the latest probe sent before they
    // arrived, ProbeMatches for the probe their RelatesTo names. Gives its number, from 1.
    std::uint32_t BeginProbe(std::int64_t sentNs, const std::vector<std::string>& messageIds = {});
    // A probe left by this adapter (index 0: the routing table chose).
    void CountSend(int adapterIndex, const AdapterList& adapters, bool wsDiscovery);
    // Null for none. Rows are marked again; those whose mark changed are queued as updates.
    void SetRegistered(std::shared_ptr<const RegisteredDevices> registered);

    // One datagram. A datagram without a kernel time counts as arriving now.
    Outcome Ingest(const ReceivedDatagram& datagram, const AdapterList& adapters);

    // Rows on a local adapter's link still without a MAC, or with a MAC still without its maker.
    bool WantsMacs() const { return !macWanted_.empty(); }
    // Fills in MACs from the neighbour table and makers from vendors (may be null); changed rows are queued.
    // A row is looked up a bounded number of times.
    void ResolveMacs(const NeighbourTable& neighbours, const OuiVendors* vendors);

    // Up to max queued rows: new ones in number order first, then updated ones.
    PendingRows TakePending(std::size_t max);
    std::size_t Pending() const;
    const std::vector<FoundRow>& Rows() const { return rows_; }

    // The table's part of the status: round, listed, registered, pending, limit, counters and statistics.
    void FillStatus(SessionStatus& status) const;

private:
    struct RowState {
        std::uint32_t lastProbe = 0;  // the latest probe it answered
        std::uint64_t replyHash = 0;  // of its first native reply's bytes, 0 before one came
        bool queued = false;          // in updates_
        bool onLink = false;          // on the link of the adapter it answered by
        std::uint8_t macLookups = 0;
    };

    Outcome IngestNative(const ReceivedDatagram& datagram, const AdapterList& adapters);
    Outcome IngestOnvif(const ReceivedDatagram& datagram, const AdapterList& adapters);
    // The probe a reply arriving then answers (0: it arrived before the round's first probe).
    std::uint32_t ProbeAt(std::int64_t arrivalNs) const;
    // The row of a native reply's device, made if needed; kListed, kUpdated or why it has none.
    Outcome NativeRow(const FoundDevice& device, std::uint32_t sender, std::size_t& index);
    Outcome OnvifRow(std::uint32_t sender, std::size_t& index);
    // Room for a new row announced by sender for address; counts the refusal when there is none.
    Outcome RoomFor(std::uint32_t address, std::uint32_t sender);
    std::size_t AddRow(const FoundDevice& device, bool portKnown);
    void NoteReply(std::size_t index, const ReceivedDatagram& datagram, const AdapterList& adapters,
                   std::uint32_t probe, std::int64_t arrivalNs);
    void PlaceAdapter(std::size_t index, const ReceivedDatagram& datagram, const AdapterList& adapters);
    void WantMac(std::size_t index);
    AdapterStatistics& StatisticsOf(int adapterIndex, const AdapterList& adapters);
    void Count(AdapterStatistics& statistics, Outcome outcome);
    void Queue(std::size_t index);

    std::size_t maxListed_;
    std::uint32_t round_ = 0;
    std::vector<SearchTarget> targets_;
    std::vector<std::int64_t> probeTimes_;
    std::unordered_map<std::string, std::uint32_t> messageProbes_;  // our MessageIDs of the round -> probe
    std::shared_ptr<const RegisteredDevices> registered_;

    std::vector<FoundRow> rows_;
    std::vector<RowState> states_;
    std::unordered_map<std::uint64_t, std::uint32_t> index_;      // DeviceIdentityKey -> row (port 0: ONVIF only)
    std::unordered_map<std::uint32_t, std::uint32_t> byAddress_;  // address -> first row listed there
    std::size_t registeredRows_ = 0;
    SenderShare share_;
    std::vector<std::uint32_t> macWanted_;

    // Rows from delivered_ on have never been handed out; updates_ holds already handed-out rows that changed
    // since, each at most once (RowState::queued).
    std::size_t delivered_ = 0;
    std::vector<std::uint32_t> updates_;
    std::size_t updatesTaken_ = 0;

    bool limitReached_ = false;
    std::uint64_t notListed_ = 0;
    std::uint64_t datagrams_ = 0;
    std::uint64_t malformed_ = 0;
    std::uint64_t rejectedAddresses_ = 0;
    std::uint64_t earlierRound_ = 0;
    std::uint64_t repeats_ = 0;
    std::map<int, AdapterStatistics> statistics_;
};

}  // namespace vantrel
