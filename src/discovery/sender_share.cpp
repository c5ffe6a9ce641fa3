#include "discovery/sender_share.h"

#include <arpa/inet.h>

#include <algorithm>

namespace vantrel {

void SenderShare::Clear() {
    announced_.clear();
    drops_.clear();
    dropped_ = 0;
}

bool SenderShare::HasRoom(std::uint32_t sender) const {
    const auto found = announced_.find(sender);
    return found == announced_.end() || found->second < maxPerSender_;
}

void SenderShare::Add(std::uint32_t sender) {
    ++announced_[sender];
}

void SenderShare::Drop(std::uint32_t sender) {
    ++drops_[sender];
    ++dropped_;
}

std::vector<SenderDrops> SenderShare::MostDropped(std::size_t max) const {
    std::vector<SenderDrops> all;
    all.reserve(drops_.size());
    for (const auto& [sender, dropped] : drops_) {
        all.push_back({sender, dropped});
    }
    const auto before = [](const SenderDrops& a, const SenderDrops& b) {
        return a.dropped != b.dropped ? a.dropped > b.dropped : ntohl(a.sender) < ntohl(b.sender);
    };
    const std::size_t kept = std::min(max, all.size());
    std::partial_sort(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(kept), all.end(), before);
    all.resize(kept);
    return all;
}

}  // namespace vantrel
