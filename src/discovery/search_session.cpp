#include "discovery/search_session.h"

#include <arpa/inet.h>
#include <net/if.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "discovery/adapter_list.h"
#include "discovery/reply_table.h"
#include "discovery/search_protocol.h"
#include "discovery/ws_discovery.h"
#include "neighbour_table.h"
#include "oui_vendors.h"
#include "search_checks.h"

namespace vantrel {
namespace {

constexpr std::int64_t kNsPerMs = 1000000;
constexpr std::int64_t kNsPerSecond = 1000000000;
// unicast probes sent in one timer turn at most, so that the session's lock is never held for long
constexpr std::uint64_t kUnicastProbesPerTurn = 64;
// a full send buffer is tried again this much later
constexpr std::int64_t kRetryAfterFullBufferNs = 2 * kNsPerMs;
// the adapters are read again at most this often when a reply names an adapter not seen before
constexpr std::int64_t kAdapterReloadIntervalNs = 100 * kNsPerMs;
// the neighbour table is read at most this often while rows wait for their MAC
constexpr std::int64_t kMacPassIntervalNs = 250 * kNsPerMs;

std::int64_t ClockNs(clockid_t clock) {
    timespec now{};
    clock_gettime(clock, &now);
    return std::int64_t{now.tv_sec} * kNsPerSecond + now.tv_nsec;
}

std::int64_t MonotonicNs() {
    return ClockNs(CLOCK_MONOTONIC);
}

std::uint32_t WsDiscoveryGroup() {
    in_addr group{};
    inet_pton(AF_INET, kWsDiscoveryGroup, &group);
    return ntohl(group.s_addr);
}

ProbeScheduleOptions ScheduleOptionsOf(const SearchSessionOptions& options) {
    return {options.probeDelaysMs, options.settleMs, options.unicastProbesPerSecond};
}

std::int64_t Earlier(std::int64_t a, std::int64_t b) {
    return a == 0 ? b : (b == 0 ? a : std::min(a, b));
}

}  // namespace

SearchSession::SearchSession(SearchSessionOptions options)
    : options_(std::move(options)),
      endpoint_(options_.addresses),
      table_(std::make_unique<ReplyTable>(options_.maxListed, options_.maxDevicesPerSender)),
      adapters_(std::make_unique<AdapterList>()),
      schedule_(ScheduleOptionsOf(options_)) {
    endpoint_.SetReceiveHandler([this](const ReceivedDatagram& datagram) { OnDatagram(datagram); });
    endpoint_.SetTimerHandler([this] { OnTimer(); });
}

SearchSession::~SearchSession() {
    Close();
}

void SearchSession::SetPendingCallback(std::function<void()> callback) {
    pendingCallback_ = std::move(callback);
}

void SearchSession::SetDatagramObserver(std::function<void(const ReceivedDatagram&)> observer) {
    datagramObserver_ = std::move(observer);
}

void SearchSession::SetRegistered(std::shared_ptr<const RegisteredDevices> registered) {
    std::lock_guard<std::mutex> lock(mutex_);
    table_->SetRegistered(std::move(registered));
}

bool SearchSession::SetTargets(std::vector<SearchTarget> targets, std::string& problem) {
    if (!CheckUnicastTotal(targets, problem)) {
        return false;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    targets_ = std::move(targets);
    return true;
}

bool SearchSession::Start() {
    std::vector<std::string> checks;
    // the checks are about broadcasting by the adapters; a session given one destination does not
    if (endpoint_.DestinationAddress() == INADDR_BROADCAST) {
        AdapterList adapters;
        adapters.Reload();
        checks = DescribeSearchChecks(GatherAdapterFacts(adapters));
    }
    if (!endpoint_.IsOpen()) {
        endpoint_.SetRequestedReceiveBuffer(options_.requestedReceiveBuffer);
        if (endpoint_.Open() != 1) {
            std::lock_guard<std::mutex> lock(mutex_);
            state_ = SearchState::kCannotOpen;
            problem_ = endpoint_.LastErrorText();
            openError_ = endpoint_.LastError();
            checks_ = std::move(checks);
            return false;
        }
    }
    std::lock_guard<std::mutex> lock(mutex_);
    const SessionStatus previous = StatusLocked();
    table_->BeginRound(previous.round + 1, targets_);
    const std::int64_t now = MonotonicNs();
    schedule_.Begin(now, targets_);
    probesSent_ = 0;
    probeReachedOut_ = false;
    sendsFailed_ = 0;
    sendError_ = 0;
    checks_ = std::move(checks);
    state_ = SearchState::kSearching;
    problem_.clear();
    openError_ = 0;
    notified_ = false;
    // the receiver thread sends the first probe at once
    scheduleWakeNs_ = now;
    macPassArmed_ = false;
    endpoint_.ArmTimer(now);
    return true;
}

void SearchSession::Close() {
    endpoint_.Close();
    std::lock_guard<std::mutex> lock(mutex_);
    schedule_.Stop();
}

bool SearchSession::IsOpen() const {
    return endpoint_.IsOpen();
}

std::uint16_t SearchSession::LocalPort() const {
    return endpoint_.LocalPort();
}

int SearchSession::SocketReceiveBuffer() const {
    return endpoint_.SocketReceiveBuffer();
}

PendingRows SearchSession::TakePending(std::size_t max) {
    std::lock_guard<std::mutex> lock(mutex_);
    PendingRows taken = table_->TakePending(max);
    if (!taken.more) {
        notified_ = false;
    }
    return taken;
}

std::vector<FoundRow> SearchSession::Rows() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return table_->Rows();
}

SessionStatus SearchSession::Status() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return StatusLocked();
}

AddressProbeResult SearchSession::ProbeAddress(std::uint32_t address, int timeoutMs) const {
    AddressProbeOptions probe;
    probe.nativePort = options_.addresses.destinationPort;
    probe.wsDiscoveryPort = options_.wsDiscoveryPort;
    probe.timeoutMs = timeoutMs;
    return vantrel::ProbeAddress(address, probe);
}

SessionStatus SearchSession::StatusLocked() const {
    SessionStatus status;
    table_->FillStatus(status);
    status.state = state_;
    status.problem = problem_;
    status.openError = openError_;
    status.probesSent = probesSent_;
    status.probesPlanned = schedule_.ProbesPlanned();
    status.sendsFailed = sendsFailed_;
    status.sendError = sendError_;
    status.checks = checks_;
    return status;
}

void SearchSession::OnDatagram(const ReceivedDatagram& datagram) {
    if (datagramObserver_) {
        datagramObserver_(datagram);
    }
    std::unique_lock<std::mutex> lock(mutex_);
    if (datagram.interfaceIndex != 0 && !adapters_->Knows(datagram.interfaceIndex)) {
        const std::int64_t now = MonotonicNs();
        if (now - lastAdapterReloadNs_ >= kAdapterReloadIntervalNs) {
            lastAdapterReloadNs_ = now;
            adapters_->Reload();
        }
    }
    table_->Ingest(datagram, *adapters_);
    if (table_->WantsMacs() && !macPassArmed_) {
        Rearm(MonotonicNs());
    }
    Notify(lock);
}

void SearchSession::OnTimer() {
    std::unique_lock<std::mutex> lock(mutex_);
    const SearchState before = state_;
    const std::int64_t now = MonotonicNs();
    scheduleWakeNs_ = SendDue(now);
    ResolveMacsDue(now);
    // armed under the lock, so that a Start on the owner's thread can never be overtaken by an older wake-up
    Rearm(now);
    if (state_ != before || table_->Pending() > 0) {
        Notify(lock);
    }
}

void SearchSession::Rearm(std::int64_t nowNs) {
    std::int64_t next = scheduleWakeNs_;
    macPassArmed_ = table_->WantsMacs();
    if (macPassArmed_) {
        next = Earlier(next, std::max(nowNs, macPassNs_ + kMacPassIntervalNs));
    }
    endpoint_.ArmTimer(next);
}

std::int64_t SearchSession::ResolveMacsDue(std::int64_t nowNs) {
    if (!table_->WantsMacs()) {
        return 0;
    }
    if (nowNs < macPassNs_ + kMacPassIntervalNs) {
        return macPassNs_ + kMacPassIntervalNs;
    }
    macPassNs_ = nowNs;
    if (vendors_ == nullptr) {
        vendors_ = std::make_unique<OuiVendors>();
        vendors_->Load(options_.ouiPath);  // without the list, MACs are shown without their maker
    }
    table_->ResolveMacs(NeighbourTable::Read(), vendors_.get());
    return table_->WantsMacs() ? nowNs + kMacPassIntervalNs : 0;
}

void SearchSession::Notify(std::unique_lock<std::mutex>& lock) {
    if (notified_ || !pendingCallback_) {
        return;
    }
    notified_ = true;
    lock.unlock();
    pendingCallback_();
}

void SearchSession::RecordSend(bool sent, int error) {
    if (sent) {
        if (!probeReachedOut_) {
            probeReachedOut_ = true;
            ++probesSent_;
        }
        if (state_ == SearchState::kCannotSend) {
            state_ = SearchState::kSearching;
            problem_.clear();
        }
        return;
    }
    ++sendsFailed_;
    sendError_ = error;
}

std::int64_t SearchSession::SendDue(std::int64_t nowNs) {
    std::uint64_t unicastThisTurn = 0;
    for (;;) {
        const ProbeSchedule::Step step = schedule_.Next(nowNs);
        switch (step.kind) {
            case ProbeSchedule::Step::Kind::kWait:
                return step.atNs;
            case ProbeSchedule::Step::Kind::kFinished:
                // a round none of whose probes could be sent stays kCannotSend, with its reason
                if (state_ == SearchState::kSearching) {
                    state_ = SearchState::kFinished;
                }
                return 0;
            case ProbeSchedule::Step::Kind::kRoundProbe:
                SendRoundProbe(nowNs);
                break;
            case ProbeSchedule::Step::Kind::kUnicastProbe:
                if (unicastThisTurn++ == kUnicastProbesPerTurn) {
                    return nowNs;  // the rest in the next turn, after the replies waiting meanwhile
                }
                if (!SendUnicastProbe(step.address)) {
                    schedule_.Postpone(nowNs + kRetryAfterFullBufferNs);
                    return nowNs + kRetryAfterFullBufferNs;
                }
                break;
        }
        schedule_.Done(nowNs);
    }
}

void SearchSession::SendRoundProbe(std::int64_t nowNs) {
    probeReachedOut_ = false;
    lastAdapterReloadNs_ = nowNs;
    adapters_->Reload();
    std::vector<std::string> messageIds;
    if (options_.wsDiscovery) {
        messageIds = {NewWsDiscoveryMessageId(), NewWsDiscoveryMessageId()};
        wsProbes_[0] = BuildWsDiscoveryProbe(messageIds[0], WsDiscoveryType::kNetworkVideoTransmitter);
        wsProbes_[1] = BuildWsDiscoveryProbe(messageIds[1], WsDiscoveryType::kDevice);
    }
    table_->BeginProbe(ClockNs(CLOCK_REALTIME), messageIds);
    SendNativeRoundProbe();
    if (options_.wsDiscovery) {
        SendWsDiscoveryRoundProbe();
    }
    const SearchProbe probe = BuildSearchProbe();
    for (const SearchTarget& target : schedule_.Targets()) {
        if (target.kind == SearchTarget::Kind::kDirectedBroadcast) {
            const bool sent =
                endpoint_.SendTo(probe.data(), probe.size(), target.last, options_.addresses.destinationPort) >= 0;
            RecordSend(sent, sent ? 0 : errno);
            table_->CountSend(0, *adapters_, false);
        }
    }
    if (probesSent_ == 0 && sendError_ != 0) {
        state_ = SearchState::kCannotSend;
        problem_ = DescribeSendError(sendError_);
    }
}

void SearchSession::SendNativeRoundProbe() {
    const SearchProbe probe = BuildSearchProbe();
    const std::uint16_t port = options_.addresses.destinationPort;
    const std::vector<AdapterAddress> sending = adapters_->SendingAdapters(IFF_BROADCAST);
    if (endpoint_.DestinationAddress() != INADDR_BROADCAST || sending.empty()) {
        // a given destination, or no adapter to broadcast by: the routing table decides
        const bool sent = endpoint_.Send(probe.data(), probe.size()) >= 0;
        RecordSend(sent, sent ? 0 : errno);
        table_->CountSend(0, *adapters_, false);
        return;
    }
    for (const AdapterAddress& adapter : sending) {
        const bool sent =
            endpoint_.SendVia(probe.data(), probe.size(), INADDR_BROADCAST, port, adapter.index, adapter.address) >= 0;
        RecordSend(sent, sent ? 0 : errno);
        if (sent) {
            table_->CountSend(adapter.index, *adapters_, false);
        }
    }
}

void SearchSession::SendWsDiscoveryRoundProbe() {
    const std::uint32_t destination = endpoint_.DestinationAddress();
    const std::uint16_t port = options_.wsDiscoveryPort;
    for (const std::string& text : wsProbes_) {
        if (destination != INADDR_BROADCAST) {
            const bool sent = endpoint_.SendTo(text.data(), text.size(), destination, port) >= 0;
            RecordSend(sent, sent ? 0 : errno);
            table_->CountSend(0, *adapters_, true);
            continue;
        }
        for (const AdapterAddress& adapter : adapters_->SendingAdapters(IFF_MULTICAST)) {
            const bool sent = endpoint_.SendVia(text.data(), text.size(), WsDiscoveryGroup(), port, adapter.index,
                                                adapter.address) >= 0;
            RecordSend(sent, sent ? 0 : errno);
            if (sent) {
                table_->CountSend(adapter.index, *adapters_, true);
            }
        }
    }
}

bool SearchSession::SendUnicastProbe(std::uint32_t address) {
    const SearchProbe probe = BuildSearchProbe();
    if (endpoint_.SendTo(probe.data(), probe.size(), address, options_.addresses.destinationPort) < 0) {
        const int error = errno;
        if (error == EAGAIN || error == EWOULDBLOCK || error == ENOBUFS) {
            return false;
        }
        RecordSend(false, error);
    } else {
        RecordSend(true, 0);
        table_->CountSend(0, *adapters_, false);
    }
    if (!options_.wsDiscovery) {
        return true;
    }
    for (const std::string& text : wsProbes_) {
        // best effort: the native probe to this address has gone, a full buffer loses only its ONVIF answer
        if (endpoint_.SendTo(text.data(), text.size(), address, options_.wsDiscoveryPort) >= 0) {
            table_->CountSend(0, *adapters_, true);
        } else {
            ++sendsFailed_;
        }
    }
    return true;
}

std::string DescribeSendError(int error) {
    switch (error) {
        case 0:
            return {};
        case ENETUNREACH:
            return "network unreachable";
        case EHOSTUNREACH:
            return "host unreachable";
        case EACCES:
        case EPERM:
            return "sending not permitted";
        case ENODEV:
        case EADDRNOTAVAIL:
            return "no network adapter";
        default:
            break;
    }
    std::string text = std::strerror(error);
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

std::string DescribeDroppingSenders(const SessionStatus& status) {
    std::string text;
    for (const SenderDrops& drops : status.droppedBySender) {
        text += (text.empty() ? "" : ", ") + DottedDecimal(drops.sender);
    }
    std::uint64_t named = 0;
    for (const SenderDrops& drops : status.droppedBySender) {
        named += drops.dropped;
    }
    if (named < status.droppedOverShare) {
        text += " and other senders";
    }
    return text;
}

std::string DescribeStatus(const SessionStatus& status) {
    std::string text;
    switch (status.state) {
        case SearchState::kIdle:
            return {};
        case SearchState::kCannotOpen:
            return "Cannot search for devices: " + status.problem;
        case SearchState::kCannotSend:
            return "No probe could be sent: " + status.problem;
        case SearchState::kSearching:
            return "Searching\xE2\x80\xA6";
        case SearchState::kFinished:
            text =
                status.listed == 1 ? std::string("1 device found") : std::to_string(status.listed) + " devices found";
            if (status.registered > 0) {
                text += " (" + std::to_string(status.registered) + " already registered)";
            }
            break;
    }
    if (status.listedLimitReached) {
        text += "; list full at " + std::to_string(status.listedLimit) + " devices, " +
                std::to_string(status.notListed) + " more not listed";
    }
    if (status.Rejected() > 0) {
        text +=
            "; " + std::to_string(status.Rejected()) + (status.Rejected() == 1 ? " reply" : " replies") + " rejected";
    }
    if (status.droppedOverShare > 0) {
        text += "; " + std::to_string(status.droppedOverShare) + " replies dropped from " +
                DescribeDroppingSenders(status) + " (more devices than one sender may announce)";
    }
    // a cause of missing devices, when devices are missing; the details view lists every check
    if (!status.checks.empty() && status.listed == 0) {
        text += "; " + status.checks.front();
    }
    return text;
}

}  // namespace vantrel
