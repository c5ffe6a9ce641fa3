#pragma once

// What a search session tells its owner: one FoundRow per listed device, the session's status, and the rows
// handed over by SearchSession::TakePending. Plain values, no Qt; safe to copy to any thread.
//
// Changes after the first version of this header are listed here:
// - SessionStatus::openError: errno of the failed open (EADDRINUSE when another program holds the port).
// - FoundRow: protocols, portKnown, endpoint, name, model, location, serviceUrls, mac, vendor, conflict,
//   senders, warning (ONVIF WS-Discovery beside the native search; conflicting answers; unusual masks).
// - SessionStatus: adapters (per-adapter statistics), checks (start-of-search problems), droppedBySender.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "discovery/found_device.h"

namespace vantrel {

inline constexpr std::size_t kAdapterNameSize = 16;  // IFNAMSIZ: the longest interface name and its terminator

// The searches a device answered (FoundRow::protocols).
enum ProtocolBit : std::uint8_t {
    kProtocolNative = 1,  // the 32-byte probe on UDP port 5050
    kProtocolOnvif = 2,   // ONVIF WS-Discovery on UDP port 3702
};

// One device listed in a search round: its decoded reply and what the session learnt from the datagrams.
struct FoundRow {
    // 1-based, in order of first answer within the round; row number - 1 is its index in Rows().
    std::uint32_t number = 0;
    std::uint32_t round = 0;
    // As the native reply's payload announces it. An ONVIF-only row carries the sender's address, mask and
    // gateway 0 (unknown) and port 0 with portKnown false.
    FoundDevice device;
    bool portKnown = true;

    // ProtocolBit values of the searches this device answered.
    std::uint8_t protocols = 0;
    // From the WS-Discovery ProbeMatch (empty when unknown or native only): the stable endpoint reference
    // ("urn:uuid:..."), the name, hardware (model) and location scopes, and the XAddrs, the one whose host is
    // the reply's sender first.
    std::string endpoint;
    std::string name;
    std::string model;
    std::string location;
    std::vector<std::string> serviceUrls;
    // "aa:bb:cc:dd:ee:ff" from the kernel's neighbour table for a device on a local adapter's link (else the
    // MAC the device names in its scopes), and the maker registered for its first three bytes; empty when
    // unknown.
    std::string mac;
    std::string vendor;

    // Different senders, or native replies with different bytes, answered for this address and port: several
    // devices with one factory-default address, or a forged reply. senders holds every sender address seen
    // (network order, in order of first appearance, at most kMaxSendersPerRow).
    bool conflict = false;
    std::vector<std::uint32_t> senders;

    // Non-empty for a device listed with a warning mark; the text says why, for a tooltip ("subnet mask
    // 255.0.255.0 is not contiguous", "subnet mask 0.0.0.0").
    std::string warning;

    // Source of the latest reply. senderMismatch: it differs from the announced address (a spoofed reply,
    // or a device answering for another one).
    std::uint32_t senderAddress = 0;  // network order
    std::uint16_t senderPort = 0;     // host order
    bool senderMismatch = false;

    // Local adapter the latest reply arrived on (IP_PKTINFO) and that adapter's IPv4 address and netmask;
    // index 0, empty name and zero address when the session could not tell.
    int adapterIndex = 0;
    char adapterName[kAdapterNameSize] = {};
    std::uint32_t adapterAddress = 0;  // network order
    std::uint32_t adapterMask = 0;     // network order
    // The announced address lies in none of that adapter's subnets and in none of the networks searched
    // beyond it: the device answered, but cannot be reached at that address until it is changed
    // (a factory-default 192.168.1.108 next to a 10.x network).
    bool outsideAdapterSubnet = false;

    // Confidence: the number of the round's probes this device answered (k); SessionStatus::probesSent is n.
    std::uint32_t probesSeen = 0;
    // Replies of this device in the round, repeats included.
    std::uint32_t replies = 0;
    // Kernel arrival times of the first and the latest reply: nanoseconds since the Unix epoch (UTC).
    std::int64_t firstReplyNs = 0;
    std::int64_t lastReplyNs = 0;

    // In the owner's registered set (SearchSession::SetRegistered) by address and port.
    bool registered = false;

    bool Answered(ProtocolBit protocol) const { return (protocols & protocol) != 0; }
};

// Sender addresses a row remembers at most; further ones still set conflict.
inline constexpr std::size_t kMaxSendersPerRow = 16;

// Why a datagram of the round was not listed (SessionStatus::AdapterStatistics::rejected).
enum class RejectReason : std::uint8_t {
    kNotReply,             // neither a native search reply nor a WS-Discovery ProbeMatches
    kImpossibleAddress,    // announced an address or port no device can have
    kSenderShareExceeded,  // its sender already announced its share of devices
    kNotOurs,              // a ProbeMatches answering someone else's probe (RelatesTo not ours)
    kBadMatch,             // a ProbeMatches we asked for, but malformed or over the limits
    kEarlierRound,         // arrived before this round began
    kListFull,             // a new device while the list was full
    kCount
};
inline constexpr std::size_t kRejectReasonCount = static_cast<std::size_t>(RejectReason::kCount);
// "not a reply", "impossible address", "sender share exceeded", "not ours", "malformed ONVIF reply",
// "earlier round", "list full".
const char* DescribeRejectReason(RejectReason reason);

// What one local adapter saw in the round. Index 0 collects what arrived on an adapter the session cannot
// name.
struct AdapterStatistics {
    int index = 0;
    std::string name;
    std::uint64_t nativeProbesSent = 0;       // sends of the 32-byte probe by this adapter
    std::uint64_t wsDiscoveryProbesSent = 0;  // sends of WS-Discovery probes by this adapter
    std::uint64_t received = 0;               // datagrams that arrived on it (our own probes not counted)
    std::uint64_t accepted = 0;               // replies that listed or updated a row
    std::array<std::uint64_t, kRejectReasonCount> rejected{};

    std::uint64_t Rejected() const;
    std::uint64_t& Rejected(RejectReason reason) { return rejected[static_cast<std::size_t>(reason)]; }
    std::uint64_t Rejected(RejectReason reason) const { return rejected[static_cast<std::size_t>(reason)]; }
};

// A sender some of whose replies were dropped because it announced more devices than its share.
struct SenderDrops {
    std::uint32_t sender = 0;  // network order
    std::uint64_t dropped = 0;
};

enum class SearchState {
    kIdle,        // not started yet, or closed
    kCannotOpen,  // the endpoint could not be opened; SessionStatus::problem says why
    kSearching,   // a round is running: probes still due, or the last one went out less than settleMs ago
    kCannotSend,  // no probe of the current round could be sent so far; SessionStatus::problem says why
    kFinished,    // the round's probes are all out; replies that still come are listed all the same
};

struct SessionStatus {
    SearchState state = SearchState::kIdle;
    std::uint32_t round = 0;          // 1 for the first round, +1 for each Refresh
    std::uint32_t probesSent = 0;     // n: probes of the round that left by at least one path
    std::uint32_t probesPlanned = 0;  // probes the round's schedule holds
    std::size_t listed = 0;           // rows of the round
    std::size_t registered = 0;       // rows marked registered
    std::size_t pending = 0;          // rows waiting for TakePending

    // Limits (named in search_session.h): the listed rows stop at listedLimit; further devices are counted.
    std::size_t listedLimit = 0;
    bool listedLimitReached = false;
    std::uint64_t notListed = 0;  // replies of devices refused because the list was full

    // Datagrams of the round and what became of those that were not listed.
    std::uint64_t datagrams = 0;
    std::uint64_t malformed = 0;          // not a search reply (our own probes coming back are not counted)
    std::uint64_t rejectedAddresses = 0;  // announced an address or port no device can have
    std::uint64_t earlierRound = 0;       // arrived before this round began: answers to an earlier one
    std::uint64_t repeats = 0;            // further replies of devices already listed

    // Sends of the round's probes (one per path: adapter, directed broadcast, unicast address).
    std::uint64_t sendsFailed = 0;
    int sendError = 0;  // errno of the latest failed send, 0 if none

    // Why nothing can be searched, in words ("network unreachable", "cannot bind UDP port 5050: ..."); empty
    // unless state is kCannotOpen or kCannotSend.
    std::string problem;
    int openError = 0;  // errno of the failed open when state is kCannotOpen

    // Per local adapter, for the round, in adapter index order.
    std::vector<AdapterStatistics> adapters;
    // Likely causes of missing devices found when the round started, in words ("adapter eth1 drops replies
    // from other subnets (rp_filter is strict)", "no network adapter has an IPv4 address", ...).
    std::vector<std::string> checks;
    // Replies dropped because their sender exceeded its share (SearchSessionOptions::maxDevicesPerSender),
    // in total and by sender, most dropped first (the first kMaxSendersReported senders).
    std::uint64_t droppedOverShare = 0;
    std::vector<SenderDrops> droppedBySender;

    // Replies refused as not being devices: malformed plus rejected addresses.
    std::uint64_t Rejected() const { return malformed + rejectedAddresses; }
};

// Senders SessionStatus::droppedBySender names at most.
inline constexpr std::size_t kMaxSendersReported = 8;

// Rows handed to the owner. A row whose number is above the count the owner already has is new (they come in
// number order); any other row replaces the owner's row of that number with a newer state.
struct PendingRows {
    std::vector<FoundRow> rows;
    std::uint32_t round = 0;
    bool more = false;  // rows were left because of the batch size: take again
};

// The status as one line for a window or a terminal: "Searching…", "12 devices found (3 already registered)",
// "No probe could be sent: network unreachable", with the limit, the rejected count, the replies dropped by
// sender and, when nothing was found, the first start-of-search check appended when they apply ("; list full at 65536
// devices, 40 more not listed; 7 replies rejected; 99744 replies dropped from 10.1.0.66 (more devices than one sender
// may announce); adapter eth1 drops replies from other subnets (...)").
std::string DescribeStatus(const SessionStatus& status);

// The senders of SessionStatus::droppedBySender: "10.1.0.66, 10.1.0.67 and other senders".
std::string DescribeDroppingSenders(const SessionStatus& status);

// A send failure in the operator's words: ENETUNREACH "network unreachable", EHOSTUNREACH "host unreachable",
// EACCES/EPERM "sending not permitted", ENODEV "no network adapter", otherwise strerror's text in lower case.
std::string DescribeSendError(int error);

}  // namespace vantrel
