#include "neighbour_table.h"

#include <arpa/inet.h>

#include <cstdlib>
#include <sstream>

#include "files/file_read.h"
#include "mac_address.h"

namespace vantrel {
namespace {

// The kernel writes a line per entry, about 80 bytes; a table this large is not one a host keeps.
constexpr std::uint64_t kMaxTableBytes = 16 * 1024 * 1024;
// ATF_COM in <net/if_arp.h>: the entry is resolved
constexpr unsigned long kCompleteFlag = 0x2;

}  // namespace

NeighbourTable NeighbourTable::Read(const std::string& path) {
    const FileContents contents = ReadRegularFile(path, kMaxTableBytes, true);
    return contents.status == FileReadStatus::Read ? Parse(contents.bytes) : NeighbourTable();
}

NeighbourTable NeighbourTable::Parse(const std::string& text) {
    NeighbourTable table;
    std::istringstream lines(text);
    std::string line;
    std::getline(lines, line);  // the column titles
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string address, hardwareType, flags, mac;
        if (!(fields >> address >> hardwareType >> flags >> mac)) {
            continue;
        }
        char* end = nullptr;
        const unsigned long flagBits = std::strtoul(flags.c_str(), &end, 16);
        in_addr parsed{};
        const std::string normalised = mac.size() == 17 ? NormalisedMac(mac) : std::string();
        if (end == flags.c_str() || *end != '\0' || (flagBits & kCompleteFlag) == 0 ||
            inet_pton(AF_INET, address.c_str(), &parsed) != 1 || normalised.empty() ||
            normalised == "00:00:00:00:00:00") {
            continue;
        }
        table.macs_.emplace(parsed.s_addr, normalised);
    }
    return table;
}

std::string NeighbourTable::MacOf(std::uint32_t address) const {
    const auto found = macs_.find(address);
    return found == macs_.end() ? std::string() : found->second;
}

}  // namespace vantrel
