#include "discovery/reply_table.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstring>
#include <ctime>

#include "discovery/search_protocol.h"
#include "discovery/ws_discovery.h"
#include "mac_address.h"
#include "neighbour_table.h"
#include "oui_vendors.h"

namespace vantrel {
namespace {

// a row whose MAC the neighbour table does not give is looked up this many times, then left without one
constexpr std::uint8_t kMacLookups = 8;
// service URLs a row keeps at most; a device offers one or two
constexpr std::size_t kMaxServiceUrls = 8;
std::int64_t RealtimeNowNs() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return std::int64_t{now.tv_sec} * 1000000000 + now.tv_nsec;
}

// FNV-1a: tells replies with different bytes apart; never 0, so 0 can mean "none yet"
std::uint64_t HashBytes(const unsigned char* data, std::size_t length) {
    std::uint64_t hash = 14695981039346656037ull;
    for (std::size_t i = 0; i < length; ++i) {
        hash = (hash ^ data[i]) * 1099511628211ull;
    }
    return hash == 0 ? 1 : hash;
}

// "http://10.1.0.2:80/onvif/device_service" -> "10.1.0.2"
std::string HostOfUrl(const std::string& url) {
    const std::size_t scheme = url.find("://");
    const std::size_t start = scheme == std::string::npos ? 0 : scheme + 3;
    const std::size_t end = url.find_first_of(":/", start);
    return url.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

std::vector<std::string> OrderedServiceUrls(const std::vector<std::string>& xaddrs, std::uint32_t sender) {
    std::vector<std::string> urls(xaddrs.begin(), xaddrs.begin() + std::min(xaddrs.size(), kMaxServiceUrls));
    const std::string senderText = DottedDecimal(sender);
    std::stable_partition(urls.begin(), urls.end(),
                          [&](const std::string& url) { return HostOfUrl(url) == senderText; });
    return urls;
}

void NoteSender(FoundRow& row, std::uint32_t sender) {
    if (std::find(row.senders.begin(), row.senders.end(), sender) != row.senders.end()) {
        return;
    }
    row.conflict = row.conflict || !row.senders.empty();
    if (row.senders.size() < kMaxSendersPerRow) {
        row.senders.push_back(sender);
    }
}

void ApplyMatch(FoundRow& row, const OnvifMatch& match, std::uint32_t sender) {
    // two endpoints at one address are two devices sharing it
    row.conflict = row.conflict || (!row.endpoint.empty() && row.endpoint != match.endpoint);
    row.endpoint = match.endpoint;
    row.protocols |= kProtocolOnvif;
    for (auto [field, value] : {std::pair{&row.name, &match.name}, std::pair{&row.model, &match.model},
                                std::pair{&row.location, &match.location}}) {
        if (!value->empty()) {
            *field = *value;
        }
    }
    if (!match.xaddrs.empty()) {
        row.serviceUrls = OrderedServiceUrls(match.xaddrs, sender);
    }
    if (row.mac.empty()) {
        row.mac = NormalisedMac(match.mac);
    }
}

RejectReason ReasonOf(ReplyTable::Outcome outcome) {
    switch (outcome) {
        case ReplyTable::Outcome::kEarlierRound:
            return RejectReason::kEarlierRound;
        case ReplyTable::Outcome::kRejectedAddress:
            return RejectReason::kImpossibleAddress;
        case ReplyTable::Outcome::kOverShare:
            return RejectReason::kSenderShareExceeded;
        case ReplyTable::Outcome::kOverLimit:
            return RejectReason::kListFull;
        case ReplyTable::Outcome::kNotOurs:
            return RejectReason::kNotOurs;
        case ReplyTable::Outcome::kBadMatch:
            return RejectReason::kBadMatch;
        default:
            return RejectReason::kNotReply;
    }
}

}  // namespace

ReplyTable::ReplyTable(std::size_t maxListed, std::size_t maxPerSender) : maxListed_(maxListed), share_(maxPerSender) {}

void ReplyTable::BeginRound(std::uint32_t round, std::vector<SearchTarget> targets) {
    round_ = round;
    targets_ = std::move(targets);
    probeTimes_.clear();
    messageProbes_.clear();
    rows_.clear();
    states_.clear();
    index_.clear();
    byAddress_.clear();
    registeredRows_ = 0;
    share_.Clear();
    macWanted_.clear();
    delivered_ = 0;
    updates_.clear();
    updatesTaken_ = 0;
    limitReached_ = false;
    notListed_ = datagrams_ = malformed_ = rejectedAddresses_ = earlierRound_ = repeats_ = 0;
    statistics_.clear();
}

std::uint32_t ReplyTable::BeginProbe(std::int64_t sentNs, const std::vector<std::string>& messageIds) {
    probeTimes_.push_back(sentNs);
    const auto probe = static_cast<std::uint32_t>(probeTimes_.size());
    for (const std::string& id : messageIds) {
        messageProbes_[id] = probe;
    }
    return probe;
}

void ReplyTable::CountSend(int adapterIndex, const AdapterList& adapters, bool wsDiscovery) {
    AdapterStatistics& statistics = StatisticsOf(adapterIndex, adapters);
    ++(wsDiscovery ? statistics.wsDiscoveryProbesSent : statistics.nativeProbesSent);
}

void ReplyTable::SetRegistered(std::shared_ptr<const RegisteredDevices> registered) {
    registered_ = std::move(registered);
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        const bool mark = registered_ != nullptr && rows_[i].portKnown && registered_->Contains(rows_[i].device);
        if (mark != rows_[i].registered) {
            rows_[i].registered = mark;
            registeredRows_ = mark ? registeredRows_ + 1 : registeredRows_ - 1;
            Queue(i);
        }
    }
}

void ReplyTable::Queue(std::size_t index) {
    // a row not handed out yet goes out in its latest state anyway
    if (index < delivered_ && !states_[index].queued) {
        states_[index].queued = true;
        updates_.push_back(static_cast<std::uint32_t>(index));
    }
}

AdapterStatistics& ReplyTable::StatisticsOf(int adapterIndex, const AdapterList& adapters) {
    AdapterStatistics& statistics = statistics_[adapterIndex];
    if (statistics.index != adapterIndex || (statistics.name.empty() && adapterIndex != 0)) {
        statistics.index = adapterIndex;
        const AdapterAddress* adapter = adapters.Find(adapterIndex, 0, 0);
        statistics.name = adapter != nullptr ? adapter->name : std::string();
    }
    return statistics;
}

void ReplyTable::Count(AdapterStatistics& statistics, Outcome outcome) {
    switch (outcome) {
        case Outcome::kListed:
        case Outcome::kUpdated:
            ++statistics.accepted;
            return;
        case Outcome::kProbe:
            return;
        case Outcome::kMalformed:
            ++malformed_;
            break;
        case Outcome::kRejectedAddress:
            ++rejectedAddresses_;
            break;
        case Outcome::kEarlierRound:
            ++earlierRound_;
            break;
        default:
            break;
    }
    ++statistics.Rejected(ReasonOf(outcome));
}

ReplyTable::Outcome ReplyTable::Ingest(const ReceivedDatagram& datagram, const AdapterList& adapters) {
    ++datagrams_;
    if (IsSearchProbe(datagram.data, datagram.length)) {
        return Outcome::kProbe;
    }
    AdapterStatistics& statistics = StatisticsOf(datagram.interfaceIndex, adapters);
    ++statistics.received;
    const Outcome outcome = LooksLikeWsDiscovery(datagram.data, datagram.length) ? IngestOnvif(datagram, adapters)
                                                                                 : IngestNative(datagram, adapters);
    Count(statistics, outcome);
    return outcome;
}

std::uint32_t ReplyTable::ProbeAt(std::int64_t arrivalNs) const {
    // the latest probe sent before the reply arrived; none means it answers a probe of an earlier round
    const auto after = std::upper_bound(probeTimes_.begin(), probeTimes_.end(), arrivalNs);
    return static_cast<std::uint32_t>(after - probeTimes_.begin());
}

ReplyTable::Outcome ReplyTable::IngestNative(const ReceivedDatagram& datagram, const AdapterList& adapters) {
    ReplyPayload payload;
    if (ReplyDecoder().Decode(datagram.data, datagram.length, payload.data()) != 1) {
        return Outcome::kMalformed;
    }
    const std::int64_t arrival = datagram.arrivalNs != 0 ? datagram.arrivalNs : RealtimeNowNs();
    const std::uint32_t probe = ProbeAt(arrival);
    if (probe == 0) {
        return Outcome::kEarlierRound;
    }
    const FoundDevice device = MakeFoundDevice(payload.data());
    if (ImpossibleAnnouncementReason(device) != nullptr) {
        return Outcome::kRejectedAddress;
    }
    std::size_t index = 0;
    const Outcome outcome = NativeRow(device, datagram.sender.sin_addr.s_addr, index);
    if (outcome != Outcome::kListed && outcome != Outcome::kUpdated) {
        return outcome;
    }
    FoundRow& row = rows_[index];
    row.device = device;
    row.portKnown = true;
    row.protocols |= kProtocolNative;
    row.warning = MaskWarning(device.subnetMask);
    const std::uint64_t hash = HashBytes(datagram.data, datagram.length);
    RowState& state = states_[index];
    row.conflict = row.conflict || (state.replyHash != 0 && state.replyHash != hash);
    state.replyHash = hash;
    NoteReply(index, datagram, adapters, probe, arrival);
    return outcome;
}

ReplyTable::Outcome ReplyTable::IngestOnvif(const ReceivedDatagram& datagram, const AdapterList& adapters) {
    const std::int64_t arrival = datagram.arrivalNs != 0 ? datagram.arrivalNs : RealtimeNowNs();
    if (ProbeAt(arrival) == 0) {
        return Outcome::kEarlierRound;
    }
    const WsDiscoveryReply reply = ParseWsDiscoveryReply(datagram.data, datagram.length, [&](std::string_view id) {
        return messageProbes_.count(std::string(id)) != 0;
    });
    switch (reply.verdict) {
        case WsDiscoveryVerdict::kAccepted:
            break;
        case WsDiscoveryVerdict::kNotOurs:
            return Outcome::kNotOurs;
        case WsDiscoveryVerdict::kNotXml:
        case WsDiscoveryVerdict::kNotProbeMatches:
            return Outcome::kMalformed;
        default:
            return Outcome::kBadMatch;
    }
    const std::uint32_t sender = datagram.sender.sin_addr.s_addr;
    if (UnlistableAddressReason(sender) != nullptr) {
        return Outcome::kRejectedAddress;
    }
    std::size_t index = 0;
    const Outcome outcome = OnvifRow(sender, index);
    if (outcome != Outcome::kListed && outcome != Outcome::kUpdated) {
        return outcome;
    }
    for (const OnvifMatch& match : reply.matches) {
        ApplyMatch(rows_[index], match, sender);
    }
    const auto ours = messageProbes_.find(reply.relatesTo);
    NoteReply(index, datagram, adapters, ours != messageProbes_.end() ? ours->second : ProbeAt(arrival), arrival);
    return outcome;
}

ReplyTable::Outcome ReplyTable::RoomFor(std::uint32_t address, std::uint32_t sender) {
    const bool selfAnnounced = sender == address;
    if (!selfAnnounced && !share_.HasRoom(sender)) {
        share_.Drop(sender);
        return Outcome::kOverShare;
    }
    if (rows_.size() >= maxListed_) {
        limitReached_ = true;
        ++notListed_;
        return Outcome::kOverLimit;
    }
    if (!selfAnnounced) {
        share_.Add(sender);
    }
    return Outcome::kListed;
}

ReplyTable::Outcome ReplyTable::NativeRow(const FoundDevice& device, std::uint32_t sender, std::size_t& index) {
    const std::uint64_t key = DeviceIdentityKey(device);
    if (const auto found = index_.find(key); found != index_.end()) {
        index = found->second;
        ++repeats_;
        return Outcome::kUpdated;
    }
    // the device already listed from its ONVIF answer: the native reply completes that row
    FoundDevice onvifOnly;
    onvifOnly.address = device.address;
    if (const auto found = index_.find(DeviceIdentityKey(onvifOnly)); found != index_.end()) {
        index = found->second;
        index_.erase(found);
        index_.emplace(key, static_cast<std::uint32_t>(index));
        return Outcome::kUpdated;
    }
    const Outcome room = RoomFor(device.address, sender);
    if (room != Outcome::kListed) {
        return room;
    }
    index = AddRow(device, true);
    return Outcome::kListed;
}

ReplyTable::Outcome ReplyTable::OnvifRow(std::uint32_t sender, std::size_t& index) {
    if (const auto found = byAddress_.find(sender); found != byAddress_.end()) {
        index = found->second;
        ++repeats_;
        return Outcome::kUpdated;
    }
    const Outcome room = RoomFor(sender, sender);
    if (room != Outcome::kListed) {
        return room;
    }
    FoundDevice device;
    device.address = sender;
    std::strncpy(device.addressText, DottedDecimal(sender).c_str(), sizeof device.addressText - 1);
    index = AddRow(device, false);
    return Outcome::kListed;
}

std::size_t ReplyTable::AddRow(const FoundDevice& device, bool portKnown) {
    const std::size_t index = rows_.size();
    index_.emplace(DeviceIdentityKey(device), static_cast<std::uint32_t>(index));
    byAddress_.emplace(device.address, static_cast<std::uint32_t>(index));
    FoundRow& row = rows_.emplace_back();
    row.number = static_cast<std::uint32_t>(index + 1);
    row.round = round_;
    row.device = device;
    row.portKnown = portKnown;
    row.registered = portKnown && registered_ != nullptr && registered_->Contains(device);
    registeredRows_ += row.registered ? 1 : 0;
    states_.emplace_back();
    return index;
}

void ReplyTable::NoteReply(std::size_t index, const ReceivedDatagram& datagram, const AdapterList& adapters,
                           std::uint32_t probe, std::int64_t arrivalNs) {
    FoundRow& row = rows_[index];
    RowState& state = states_[index];
    if (probe > state.lastProbe) {
        state.lastProbe = probe;
        ++row.probesSeen;
    }
    if (row.replies++ == 0) {
        row.firstReplyNs = arrivalNs;
    }
    row.lastReplyNs = std::max(row.lastReplyNs, arrivalNs);
    row.senderAddress = datagram.sender.sin_addr.s_addr;
    row.senderPort = ntohs(datagram.sender.sin_port);
    row.senderMismatch = row.senderAddress != row.device.address;
    NoteSender(row, row.senderAddress);
    if (row.portKnown) {
        const bool mark = registered_ != nullptr && registered_->Contains(row.device);
        registeredRows_ += mark && !row.registered ? 1 : 0;
        row.registered = row.registered || mark;
    }
    PlaceAdapter(index, datagram, adapters);
    if ((state.onLink && row.mac.empty()) || (!row.mac.empty() && row.vendor.empty())) {
        WantMac(index);
    }
    Queue(index);
}

void ReplyTable::PlaceAdapter(std::size_t index, const ReceivedDatagram& datagram, const AdapterList& adapters) {
    FoundRow& row = rows_[index];
    row.adapterIndex = datagram.interfaceIndex;
    const AdapterAddress* adapter = adapters.Find(datagram.interfaceIndex, row.device.address, datagram.localAddress);
    std::memset(row.adapterName, 0, sizeof row.adapterName);
    if (adapter == nullptr) {
        row.adapterAddress = 0;
        row.adapterMask = 0;
        row.outsideAdapterSubnet = false;
        return;
    }
    std::strncpy(row.adapterName, adapter->name.c_str(), sizeof row.adapterName - 1);
    row.adapterAddress = adapter->address;
    row.adapterMask = adapter->mask;
    const std::uint32_t hostOrder = ntohl(row.device.address);
    const bool searchedThere = std::any_of(targets_.begin(), targets_.end(),
                                           [&](const SearchTarget& target) { return target.Contains(hostOrder); });
    const bool inSubnet = AdapterList::InSubnet(*adapter, row.device.address);
    row.outsideAdapterSubnet = !inSubnet && !searchedThere;
    states_[index].onLink = inSubnet;
}

void ReplyTable::WantMac(std::size_t index) {
    RowState& state = states_[index];
    if (state.macLookups == 0) {
        state.macLookups = 1;  // marks it wanted; counts down from kMacLookups when looked up
        macWanted_.push_back(static_cast<std::uint32_t>(index));
    }
}

void ReplyTable::ResolveMacs(const NeighbourTable& neighbours, const OuiVendors* vendors) {
    std::vector<std::uint32_t> still;
    for (const std::uint32_t index : macWanted_) {
        FoundRow& row = rows_[index];
        RowState& state = states_[index];
        if (state.onLink) {
            std::string mac = neighbours.MacOf(row.device.address);
            if (!mac.empty() && mac != row.mac) {
                row.mac = std::move(mac);
                row.vendor.clear();
            }
        }
        if (!row.mac.empty()) {
            row.vendor = vendors != nullptr ? vendors->VendorOf(row.mac) : std::string();
            Queue(index);
            continue;  // stays marked, so it is not wanted again in this round
        }
        if (++state.macLookups <= kMacLookups) {
            still.push_back(index);
        }
    }
    macWanted_ = std::move(still);
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
        states_[index].queued = false;
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
    status.adapters.clear();
    for (const auto& entry : statistics_) {
        status.adapters.push_back(entry.second);
    }
    status.droppedOverShare = share_.Dropped();
    status.droppedBySender = share_.MostDropped(kMaxSendersReported);
}

}  // namespace vantrel
