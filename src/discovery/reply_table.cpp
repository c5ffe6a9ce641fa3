#include "discovery/reply_table.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstring>
#include <ctime>

#include "discovery/search_protocol.h"

namespace vantrel {
namespace {

std::int64_t RealtimeNowNs() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return std::int64_t{now.tv_sec} * 1000000000 + now.tv_nsec;
}

}  // namespace

const char* UnlistableAddressReason(std::uint32_t networkOrderAddress) {
    const std::uint32_t address = ntohl(networkOrderAddress);
    if (address == 0xFFFFFFFFu) {
        return "the limited broadcast address";
    }
    if ((address >> 24) == 0) {
        return "an address of \"this network\" (0.0.0.0/8)";
    }
    if ((address >> 24) == 127) {
        return "a loopback address";
    }
    if ((address >> 28) == 0xE) {
        return "a multicast address";
    }
    return nullptr;
}

ReplyTable::ReplyTable(std::size_t maxListed) : maxListed_(maxListed) {}

void ReplyTable::BeginRound(std::uint32_t round, std::vector<SearchTarget> targets) {
    round_ = round;
    targets_ = std::move(targets);
    probeTimes_.clear();
    rows_.clear();
    lastProbe_.clear();
    index_.clear();
    registeredRows_ = 0;
    delivered_ = 0;
    updates_.clear();
    updatesTaken_ = 0;
    queued_.clear();
    limitReached_ = false;
    notListed_ = 0;
    datagrams_ = 0;
    malformed_ = 0;
    rejectedAddresses_ = 0;
    earlierRound_ = 0;
    repeats_ = 0;
}

std::uint32_t ReplyTable::BeginProbe(std::int64_t sentNs) {
    probeTimes_.push_back(sentNs);
    return static_cast<std::uint32_t>(probeTimes_.size());
}

void ReplyTable::SetRegistered(std::shared_ptr<const RegisteredDevices> registered) {
    registered_ = std::move(registered);
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        const bool mark = registered_ != nullptr && registered_->Contains(rows_[i].device);
        if (mark != rows_[i].registered) {
            rows_[i].registered = mark;
            if (mark) {
                ++registeredRows_;
            } else {
                --registeredRows_;
            }
            Queue(i);
        }
    }
}

void ReplyTable::Queue(std::size_t index) {
    // a row not handed out yet goes out in its latest state anyway
    if (index < delivered_ && !queued_[index]) {
        queued_[index] = 1;
        updates_.push_back(static_cast<std::uint32_t>(index));
    }
}

ReplyTable::Outcome ReplyTable::Ingest(const ReceivedDatagram& datagram, const AdapterList& adapters) {
    ++datagrams_;
    if (IsSearchProbe(datagram.data, datagram.length)) {
        return Outcome::kProbe;
    }
    ReplyPayload payload;
    if (ReplyDecoder().Decode(datagram.data, datagram.length, payload.data()) != 1) {
        ++malformed_;
        return Outcome::kMalformed;
    }
    const std::int64_t arrival = datagram.arrivalNs != 0 ? datagram.arrivalNs : RealtimeNowNs();
    // the latest probe sent before the reply arrived; none means it answers a probe of an earlier round
    const auto after = std::upper_bound(probeTimes_.begin(), probeTimes_.end(), arrival);
    if (after == probeTimes_.begin()) {
        ++earlierRound_;
        return Outcome::kEarlierRound;
    }
    const auto probe = static_cast<std::uint32_t>(after - probeTimes_.begin());

    const FoundDevice device = MakeFoundDevice(payload.data());
    if (UnlistableAddressReason(device.address) != nullptr) {
        ++rejectedAddresses_;
        return Outcome::kRejectedAddress;
    }

    const std::uint64_t key = DeviceIdentityKey(device);
    auto found = index_.find(key);
    Outcome outcome = Outcome::kUpdated;
    std::size_t index;
    if (found != index_.end()) {
        index = found->second;
        ++repeats_;
        if (probe > lastProbe_[index]) {
            lastProbe_[index] = probe;
            ++rows_[index].probesSeen;
        }
    } else {
        if (rows_.size() >= maxListed_) {
            limitReached_ = true;
            ++notListed_;
            return Outcome::kOverLimit;
        }
        index = rows_.size();
        index_.emplace(key, static_cast<std::uint32_t>(index));
        FoundRow& row = rows_.emplace_back();
        row.number = static_cast<std::uint32_t>(index + 1);
        row.round = round_;
        row.firstReplyNs = arrival;
        row.probesSeen = 1;
        row.registered = registered_ != nullptr && registered_->Contains(device);
        registeredRows_ += row.registered ? 1 : 0;
        lastProbe_.push_back(probe);
        queued_.push_back(0);
        outcome = Outcome::kListed;
    }

    FoundRow& row = rows_[index];
    row.device = device;
    ++row.replies;
    row.lastReplyNs = std::max(row.lastReplyNs, arrival);
    row.senderAddress = datagram.sender.sin_addr.s_addr;
    row.senderPort = ntohs(datagram.sender.sin_port);
    row.senderMismatch = row.senderAddress != device.address;
    row.adapterIndex = datagram.interfaceIndex;
    const AdapterAddress* adapter = adapters.Find(datagram.interfaceIndex, device.address, datagram.localAddress);
    std::memset(row.adapterName, 0, sizeof row.adapterName);
    if (adapter != nullptr) {
        std::strncpy(row.adapterName, adapter->name.c_str(), sizeof row.adapterName - 1);
        row.adapterAddress = adapter->address;
        row.adapterMask = adapter->mask;
        const std::uint32_t hostOrder = ntohl(device.address);
        const bool searchedThere = std::any_of(targets_.begin(), targets_.end(),
                                               [&](const SearchTarget& target) { return target.Contains(hostOrder); });
        row.outsideAdapterSubnet = !AdapterList::InSubnet(*adapter, device.address) && !searchedThere;
    } else {
        row.adapterAddress = 0;
        row.adapterMask = 0;
        row.outsideAdapterSubnet = false;
    }
    if (outcome == Outcome::kUpdated) {
        Queue(index);
    }
    return outcome;
}

PendingRows ReplyTable::TakePending(std::size_t max) {
    PendingRows taken;
    taken.round = round_;
    const std::size_t fresh = std::min(max, rows_.size() - delivered_);
    taken.rows.reserve(std::min(max, Pending()));
    taken.rows.insert(taken.rows.end(), rows_.begin() + static_cast<std::ptrdiff_t>(delivered_),
                      rows_.begin() + static_cast<std::ptrdiff_t>(delivered_ + fresh));
    delivered_ += fresh;
    while (taken.rows.size() < max && updatesTaken_ < updates_.size()) {
        const std::uint32_t index = updates_[updatesTaken_++];
        queued_[index] = 0;
        taken.rows.push_back(rows_[index]);
    }
    if (updatesTaken_ == updates_.size()) {
        updates_.clear();
        updatesTaken_ = 0;
    }
    taken.more = Pending() > 0;
    return taken;
}

std::size_t ReplyTable::Pending() const {
    return (rows_.size() - delivered_) + (updates_.size() - updatesTaken_);
}

void ReplyTable::FillStatus(SessionStatus& status) const {
    status.round = round_;
    status.listed = rows_.size();
    status.registered = registeredRows_;
    status.pending = Pending();
    status.listedLimit = maxListed_;
    status.listedLimitReached = limitReached_;
    status.notListed = notListed_;
    status.datagrams = datagrams_;
    status.malformed = malformed_;
    status.rejectedAddresses = rejectedAddresses_;
    status.earlierRound = earlierRound_;
    status.repeats = repeats_;
}

}  // namespace vantrel
