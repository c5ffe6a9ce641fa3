#include "discovery/search_session.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "discovery/adapter_list.h"
#include "discovery/reply_table.h"
#include "discovery/search_protocol.h"

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

std::int64_t ClockNs(clockid_t clock) {
    timespec now{};
    clock_gettime(clock, &now);
    return std::int64_t{now.tv_sec} * kNsPerSecond + now.tv_nsec;
}

std::int64_t MonotonicNs() {
    return ClockNs(CLOCK_MONOTONIC);
}

}  // namespace

struct SearchSession::Schedule {
    std::int64_t startNs = 0;  // monotonic
    std::size_t nextProbe = 0;
    std::uint32_t probesSent = 0;
    bool probeReachedOut = false;  // the probe under way has left by at least one path
    // the unicast sweep of the probe under way
    bool sweeping = false;
    std::size_t sweepTarget = 0;
    std::uint64_t sweepOffset = 0;
    std::uint64_t sweepSent = 0;
    std::int64_t sweepStartNs = 0;
    std::int64_t lastProbeDoneNs = 0;
    bool done = true;
    std::uint64_t sendsFailed = 0;
    int sendError = 0;
    std::int64_t lastAdapterReloadNs = 0;
};

SearchSession::SearchSession(SearchSessionOptions options)
    : options_(std::move(options)),
      endpoint_(options_.addresses),
      table_(std::make_unique<ReplyTable>(options_.maxListed)),
      adapters_(std::make_unique<AdapterList>()),
      schedule_(std::make_unique<Schedule>()) {
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
    if (!endpoint_.IsOpen()) {
        endpoint_.SetRequestedReceiveBuffer(options_.requestedReceiveBuffer);
        if (endpoint_.Open() != 1) {
            std::lock_guard<std::mutex> lock(mutex_);
            state_ = SearchState::kCannotOpen;
            problem_ = endpoint_.LastErrorText();
            openError_ = endpoint_.LastError();
            return false;
        }
    }
    std::lock_guard<std::mutex> lock(mutex_);
    const SessionStatus previous = StatusLocked();
    table_->BeginRound(previous.round + 1, targets_);
    roundTargets_ = targets_;
    const std::int64_t lastAdapterReload = schedule_->lastAdapterReloadNs;
    *schedule_ = Schedule();
    schedule_->startNs = MonotonicNs();
    schedule_->done = false;
    schedule_->lastAdapterReloadNs = lastAdapterReload;
    state_ = SearchState::kSearching;
    problem_.clear();
    openError_ = 0;
    notified_ = false;
    // the receiver thread sends the first probe at once
    endpoint_.ArmTimer(schedule_->startNs);
    return true;
}

void SearchSession::Close() {
    endpoint_.Close();
    std::lock_guard<std::mutex> lock(mutex_);
    schedule_->done = true;
    schedule_->sweeping = false;
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

SessionStatus SearchSession::StatusLocked() const {
    SessionStatus status;
    table_->FillStatus(status);
    status.state = state_;
    status.problem = problem_;
    status.openError = openError_;
    status.probesSent = schedule_->probesSent;
    status.probesPlanned = static_cast<std::uint32_t>(options_.probeDelaysMs.size());
    status.sendsFailed = schedule_->sendsFailed;
    status.sendError = schedule_->sendError;
    return status;
}

void SearchSession::OnDatagram(const ReceivedDatagram& datagram) {
    if (datagramObserver_) {
        datagramObserver_(datagram);
    }
    std::unique_lock<std::mutex> lock(mutex_);
    if (datagram.interfaceIndex != 0 && !adapters_->Knows(datagram.interfaceIndex)) {
        const std::int64_t now = MonotonicNs();
        if (now - schedule_->lastAdapterReloadNs >= kAdapterReloadIntervalNs) {
            schedule_->lastAdapterReloadNs = now;
            adapters_->Reload();
        }
    }
    table_->Ingest(datagram, *adapters_);
    Notify(lock);
}

void SearchSession::OnTimer() {
    std::unique_lock<std::mutex> lock(mutex_);
    const SearchState before = state_;
    const std::int64_t next = SendDue(MonotonicNs());
    // armed under the lock, so that a Start on the owner's thread can never be overtaken by an older wake-up
    endpoint_.ArmTimer(next);
    if (state_ != before) {
        Notify(lock);
    }
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
    Schedule& schedule = *schedule_;
    if (sent) {
        if (!schedule.probeReachedOut) {
            schedule.probeReachedOut = true;
            ++schedule.probesSent;
        }
        if (state_ == SearchState::kCannotSend) {
            state_ = SearchState::kSearching;
            problem_.clear();
        }
        return;
    }
    ++schedule.sendsFailed;
    schedule.sendError = error;
}

void SearchSession::EndProbeSends(std::int64_t nowNs) {
    Schedule& schedule = *schedule_;
    schedule.lastProbeDoneNs = nowNs;
    if (schedule.probesSent == 0 && schedule.sendError != 0) {
        state_ = SearchState::kCannotSend;
        problem_ = DescribeSendError(schedule.sendError);
    }
}

std::int64_t SearchSession::SendDue(std::int64_t nowNs) {
    Schedule& schedule = *schedule_;
    const SearchProbe probe = BuildSearchProbe();
    const std::uint16_t port = options_.addresses.destinationPort;
    for (;;) {
        if (schedule.done) {
            return 0;
        }
        if (schedule.sweeping) {
            const std::int64_t spacing = kNsPerSecond / std::max(1u, options_.unicastProbesPerSecond);
            std::uint64_t sentThisTurn = 0;
            while (schedule.sweepTarget < roundTargets_.size()) {
                const SearchTarget& target = roundTargets_[schedule.sweepTarget];
                if (target.kind != SearchTarget::Kind::kUnicastRange || schedule.sweepOffset >= target.ProbeCount()) {
                    ++schedule.sweepTarget;
                    schedule.sweepOffset = 0;
                    continue;
                }
                const std::int64_t due =
                    schedule.sweepStartNs + static_cast<std::int64_t>(schedule.sweepSent) * spacing;
                if (due > nowNs) {
                    return due;
                }
                if (sentThisTurn == kUnicastProbesPerTurn) {
                    return nowNs;  // the rest in the next turn, after the replies waiting meanwhile
                }
                const std::uint32_t address = target.first + static_cast<std::uint32_t>(schedule.sweepOffset);
                if (endpoint_.SendTo(probe.data(), probe.size(), address, port) < 0) {
                    const int error = errno;
                    if (error == EAGAIN || error == EWOULDBLOCK || error == ENOBUFS) {
                        return nowNs + kRetryAfterFullBufferNs;
                    }
                    RecordSend(false, error);
                } else {
                    RecordSend(true, 0);
                }
                ++schedule.sweepOffset;
                ++schedule.sweepSent;
                ++sentThisTurn;
            }
            schedule.sweeping = false;
            EndProbeSends(nowNs);
            continue;
        }
        if (schedule.nextProbe < options_.probeDelaysMs.size()) {
            std::int64_t due = schedule.startNs + options_.probeDelaysMs[schedule.nextProbe] * kNsPerMs;
            // a long sweep pushes the following probes back rather than overlapping them
            due = std::max(due, schedule.lastProbeDoneNs);
            if (due > nowNs) {
                return due;
            }
            ++schedule.nextProbe;
            schedule.probeReachedOut = false;
            schedule.lastAdapterReloadNs = nowNs;
            adapters_->Reload();
            table_->BeginProbe(ClockNs(CLOCK_REALTIME));
            if (endpoint_.Send(probe.data(), probe.size()) < 0) {
                RecordSend(false, errno);
            } else {
                RecordSend(true, 0);
            }
            bool anyRange = false;
            for (const SearchTarget& target : roundTargets_) {
                if (target.kind == SearchTarget::Kind::kDirectedBroadcast) {
                    const bool sent = endpoint_.SendTo(probe.data(), probe.size(), target.last, port) >= 0;
                    RecordSend(sent, sent ? 0 : errno);
                } else {
                    anyRange = true;
                }
            }
            if (anyRange) {
                schedule.sweeping = true;
                schedule.sweepTarget = 0;
                schedule.sweepOffset = 0;
                schedule.sweepSent = 0;
                schedule.sweepStartNs = nowNs;
            } else {
                EndProbeSends(nowNs);
            }
            continue;
        }
        const std::int64_t finishAt = schedule.lastProbeDoneNs + options_.settleMs * kNsPerMs;
        if (finishAt > nowNs) {
            return finishAt;
        }
        schedule.done = true;
        // a round none of whose probes could be sent stays kCannotSend, with its reason
        if (state_ == SearchState::kSearching) {
            state_ = SearchState::kFinished;
        }
        return 0;
    }
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
    return text;
}

}  // namespace vantrel
