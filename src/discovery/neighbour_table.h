#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>

namespace vantrel {

// The kernel's IPv4 neighbour table (/proc/net/arp; no privileges needed): which MAC answers for an address on
// one of this host's links.
class NeighbourTable {
public:
    // Reads the table; an empty table when the file cannot be read. Only complete entries (flag 0x2) with a
    // six-byte address other than 00:00:00:00:00:00 are kept; for an address on two links, the first line wins.
    static NeighbourTable Read(const std::string& path = "/proc/net/arp");
    // The same from the file's text.
    static NeighbourTable Parse(const std::string& text);

    // "aa:bb:cc:dd:ee:ff" (lower case) of a complete entry for this address (network order); empty if none.
    std::string MacOf(std::uint32_t address) const;

private:
    std::unordered_map<std::uint32_t, std::string> macs_;
};

}  // namespace vantrel
