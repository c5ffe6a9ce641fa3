#pragma once
// Placeholder of the agreed interface until the neighbour table lands; replaced by the real header.
#include <cstdint>
#include <string>
#include <unordered_map>

namespace vantrel {

class NeighbourTable {
public:
    static NeighbourTable Read(const std::string& path = "/proc/net/arp");
    std::string MacOf(std::uint32_t address) const;

private:
    std::unordered_map<std::uint32_t, std::string> macs_;
};

}  // namespace vantrel
