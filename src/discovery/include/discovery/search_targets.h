#pragma once

// Networks searched beyond the local broadcast domain: a directed broadcast to an IPv4 network ("10.1.2.0/24")
// or the probe sent to each address of a range ("10.1.2.10-10.1.2.50", or a single "10.1.2.7").

#include <cstdint>
#include <string>
#include <vector>

namespace vantrel {

// Addresses one session probes one by one, at most (all unicast targets together). A /16 fits; at the default
// rate it takes about half a minute per probe.
inline constexpr std::uint64_t kMaxUnicastTargets = 65536;

struct SearchTarget {
    enum class Kind {
        kDirectedBroadcast,  // one probe to the network's broadcast address, forwarded by the routers on the way
        kUnicastRange,       // one probe to each address from first to last
    };
    Kind kind = Kind::kUnicastRange;
    std::uint32_t first = 0;  // host order: the network address, or the range's first address
    std::uint32_t last = 0;   // host order: the broadcast address, or the range's last address
    std::string text;         // normalised: "10.1.2.0/24", "10.1.2.10-10.1.2.50", "10.1.2.7"

    // Probes one pass sends: 1 for a directed broadcast, the number of addresses for a range.
    std::uint64_t ProbeCount() const;
    // The address (host order) lies in the network or range.
    bool Contains(std::uint32_t hostOrderAddress) const;
};

// Parses one target; surrounding blanks are ignored. A network's address may have host bits set
// ("10.1.2.7/24" is 10.1.2.0/24). /31 and /32 have no broadcast address and become ranges of 2 and 1.
// Refused, with a message naming the problem: anything not of those forms, octets above 255, prefix lengths
// outside 8..32, a range that ends before it starts or holds more than kMaxUnicastTargets addresses, and
// targets touching 0.0.0.0/8, loopback, multicast or 255.255.255.255.
bool ParseSearchTarget(const std::string& text, SearchTarget& target, std::string& problem);

// Unicast probes of one pass over all targets; false with a message when they exceed kMaxUnicastTargets.
bool CheckUnicastTotal(const std::vector<SearchTarget>& targets, std::string& problem);

}  // namespace vantrel
