#pragma once

// The share of a round's list one sender may fill with devices that are not itself, so that one host
// answering with forged replies cannot hide the real devices; and what was dropped, by sender.

#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "discovery/found_row.h"

namespace vantrel {

// Devices one sender may announce in a round besides itself. A recorder announces itself, a gateway or an
// encoder a handful; a host announcing hundreds is forging replies.
inline constexpr std::size_t kMaxDevicesPerSender = 256;

class SenderShare {
public:
    explicit SenderShare(std::size_t maxPerSender) : maxPerSender_(maxPerSender) {}

    void Clear();
    // True when sender (network order) may still announce one more device.
    bool HasRoom(std::uint32_t sender) const;
    // sender announced one more device.
    void Add(std::uint32_t sender);
    // A reply of sender was dropped for want of room.
    void Drop(std::uint32_t sender);

    std::uint64_t Dropped() const { return dropped_; }
    // Up to max senders with dropped replies, most dropped first (ties: lower address first).
    std::vector<SenderDrops> MostDropped(std::size_t max) const;

private:
    std::size_t maxPerSender_;
    std::unordered_map<std::uint32_t, std::uint32_t> announced_;
    std::unordered_map<std::uint32_t, std::uint64_t> drops_;
    std::uint64_t dropped_ = 0;
};

}  // namespace vantrel
