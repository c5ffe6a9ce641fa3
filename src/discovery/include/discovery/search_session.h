#pragma once

// One device search, shared by the search window and vantrel-scan, without Qt. The session owns the UDP
// endpoint, sends the probe on a schedule (0, 0.5 and 1.5 s after Start and after each Refresh), numbers the
// rounds, decodes the replies, lists each device once per round (same address and port), marks what the
// owner says is registered, and hands new and changed rows to the owner without ever waiting for it.
//
// Threads: every public operation is called from the owner's thread (construction, Start, Refresh, Close,
// TakePending, Rows, Status, SetRegistered, SetTargets, destruction). Probes are sent and replies taken on the
// endpoint's receiver thread; the pending callback runs there too.
//
// Hand-off (the window keeps "one queued call per burst, drain in batches"):
//   1. SetPendingCallback(f) before Start. f runs on the receiver thread when rows or a new status are waiting
//      and f has not been called since the owner last took everything; it must return at once (post a queued
//      call to the owner's thread and return) and must not call the session.
//   2. On its own thread the owner calls TakePending(max) and Status(). While PendingRows::more is set it
//      takes again (a later turn of its event loop); once a call leaves nothing, f is armed again.
//   3. Refresh empties the list; the owner empties its own copy at the same time. Rows of earlier rounds are
//      never handed out after Refresh returns.
//
// Rounds: a reply belongs to the round during which the kernel received it (SO_TIMESTAMPNS against the
// round's start). Replies that wait in the socket while Refresh starts a new round are counted as
// earlierRound and not listed. Within a round a reply counts for the latest probe sent before it arrived;
// a device's probesSeen is the number of distinct probes it answered.
//
// WS-Discovery: each round probe also sends two ONVIF WS-Discovery probes (NetworkVideoTransmitter, Device),
// each with a fresh MessageID, by multicast on every adapter that is up and can multicast (or to the
// destination address when the session is given one); a range sweep sends them to each address besides the
// native probe. ProbeMatches are listed only when their RelatesTo names one of the round's MessageIDs.
//
// Changes after the first version of this header are listed here:
// - SearchSessionOptions: maxDevicesPerSender, wsDiscovery, wsDiscoveryPort, ouiPath; ProbeAddress.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "discovery/address_probe.h"
#include "discovery/found_row.h"
#include "discovery/probe_schedule.h"
#include "discovery/registered_devices.h"
#include "discovery/search_targets.h"
#include "discovery/sender_share.h"
#include "discovery/udp_broadcast_endpoint.h"

namespace vantrel {

class ReplyTable;
class AdapterList;
class OuiVendors;

// Devices listed in one round at most. Far beyond any real network (a /16 of devices); it bounds the
// session's memory and the window's rows against a flood of forged replies. Rows waiting for the owner are
// coalesced (a row waits at most once, however often its device answers), so they are bounded by it too.
inline constexpr std::size_t kMaxListedDevices = 65536;
// The round counts as finished this long after its last probe; devices answer within milliseconds, slow
// ones within a few hundred.
inline constexpr int kRoundSettleMs = 1000;
// Unicast probes per second across a range, so that probing a /16 never floods the network or the routers.
inline constexpr unsigned kUnicastProbesPerSecond = 2000;

struct SearchSessionOptions {
    EndpointAddresses addresses;                      // 255.255.255.255:5050 from port 5050 on every address
    std::vector<int> probeDelaysMs = {0, 500, 1500};  // after Start and after each Refresh; ascending
    std::size_t maxListed = kMaxListedDevices;
    std::size_t maxDevicesPerSender = kMaxDevicesPerSender;
    int settleMs = kRoundSettleMs;
    unsigned unicastProbesPerSecond = kUnicastProbesPerSecond;
    int requestedReceiveBuffer = UdpBroadcastEndpoint::kSocketReceiveBuffer;
    bool wsDiscovery = true;                               // also search with ONVIF WS-Discovery
    std::uint16_t wsDiscoveryPort = 3702;                  // where WS-Discovery probes go
    std::string ouiPath = "/usr/share/ieee-data/oui.txt";  // makers by MAC prefix, read once when first needed
};

class SearchSession {
public:
    explicit SearchSession(SearchSessionOptions options = {});
    // Runs Close.
    ~SearchSession();
    SearchSession(const SearchSession&) = delete;
    SearchSession& operator=(const SearchSession&) = delete;

    // Called on the receiver thread when something is waiting; see the hand-off above. Set it while closed.
    void SetPendingCallback(std::function<void()> callback);
    // Called on the receiver thread with every datagram before it is looked at (for tools that record or
    // measure traffic). Set it while closed.
    void SetDatagramObserver(std::function<void(const ReceivedDatagram&)> observer);

    // The devices to mark as registered; null for none. Rows already listed are marked again, and those whose
    // mark changed are handed out as updates.
    void SetRegistered(std::shared_ptr<const RegisteredDevices> registered);
    // Networks searched beyond the local broadcast domain, from the next round on. False (and nothing changed)
    // when their unicast addresses exceed kMaxUnicastTargets; problem says so.
    bool SetTargets(std::vector<SearchTarget> targets, std::string& problem);

    // Opens the endpoint when it is not open, then starts a new round: the list is emptied and the probes go
    // out on the schedule. False when the endpoint cannot be opened (Status().problem says why; the state is
    // kCannotOpen); a later Start or Refresh tries again.
    bool Start();
    // The same as Start: "search again".
    bool Refresh() { return Start(); }
    // Stops the receiver thread (no callback runs after it returns) and closes the socket; returns promptly.
    // The rows and the status stay readable. Start opens again.
    void Close();

    bool IsOpen() const;
    // The bound local port (useful with a local port of 0), 0 while closed.
    std::uint16_t LocalPort() const;
    // The socket's receive buffer as the kernel granted it, 0 while closed.
    int SocketReceiveBuffer() const;

    // Up to max rows waiting for the owner (new ones first, in number order, then updated ones).
    PendingRows TakePending(std::size_t max);
    // Every row of the current round, in number order, in its latest state.
    std::vector<FoundRow> Rows() const;
    SessionStatus Status() const;

    // "Probe address": sends both probes to one address (network order) from a socket of its own and tells
    // what came of each (DescribeAddressProbe). Blocks up to timeoutMs; any thread, open or closed.
    AddressProbeResult ProbeAddress(std::uint32_t address, int timeoutMs) const;

private:
    void OnDatagram(const ReceivedDatagram& datagram);
    void OnTimer();
    // Sends what the schedule says is due at nowNs; gives the next CLOCK_MONOTONIC time anything is due (0 for
    // nothing). Receiver thread, mutex held.
    std::int64_t SendDue(std::int64_t nowNs);
    void SendRoundProbe(std::int64_t nowNs);
    void SendNativeRoundProbe();
    void SendWsDiscoveryRoundProbe();
    // false when the socket's send buffer is full: the same probe is due again a little later
    bool SendUnicastProbe(std::uint32_t address);
    void RecordSend(bool sent, int error);
    // Fills in MACs and makers when a pass is due; gives the next time one is (0 for none). Mutex held.
    std::int64_t ResolveMacsDue(std::int64_t nowNs);
    // Arms the timer for the earlier of the schedule's and the MAC passes' next time. Mutex held.
    void Rearm(std::int64_t nowNs);
    // Calls the pending callback, without the lock, unless it was called since the owner last took everything.
    void Notify(std::unique_lock<std::mutex>& lock);
    // Status with the mutex held.
    SessionStatus StatusLocked() const;

    SearchSessionOptions options_;
    UdpBroadcastEndpoint endpoint_;
    std::function<void()> pendingCallback_;
    std::function<void(const ReceivedDatagram&)> datagramObserver_;

    mutable std::mutex mutex_;  // guards everything below; never held while a callback runs
    std::unique_ptr<ReplyTable> table_;
    std::unique_ptr<AdapterList> adapters_;  // receiver thread only
    std::vector<SearchTarget> targets_;
    ProbeSchedule schedule_;
    std::int64_t scheduleWakeNs_ = 0;
    std::int64_t macPassNs_ = 0;  // the latest MAC pass
    bool macPassArmed_ = false;
    std::unique_ptr<OuiVendors> vendors_;  // loaded at the first MAC pass
    std::string wsProbes_[2];              // the WS-Discovery probes of the round probe under way
    std::uint32_t probesSent_ = 0;
    bool probeReachedOut_ = false;  // the round probe under way has left by at least one path
    std::uint64_t sendsFailed_ = 0;
    int sendError_ = 0;
    std::int64_t lastAdapterReloadNs_ = 0;
    std::vector<std::string> checks_;
    SearchState state_ = SearchState::kIdle;
    std::string problem_;
    int openError_ = 0;
    bool notified_ = false;
};

}  // namespace vantrel
