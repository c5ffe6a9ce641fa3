// Placeholder implementations until the WS-Discovery codec, the neighbour table and the OUI table land.
#include "discovery/neighbour_table.h"
#include "discovery/oui_vendors.h"
#include "discovery/ws_discovery.h"

namespace vantrel {

std::string NewWsDiscoveryMessageId() {
    static unsigned counter = 0;
    return "urn:uuid:00000000-0000-4000-8000-" + std::to_string(100000000000u + ++counter);
}
std::string BuildWsDiscoveryProbe(const std::string& messageId, WsDiscoveryType) {
    return "<Probe>" + messageId + "</Probe>";
}
bool LooksLikeWsDiscovery(const unsigned char* data, std::size_t size) {
    return size > 0 && data[0] == '<';
}
WsDiscoveryReply ParseWsDiscoveryReply(const unsigned char*, std::size_t,
                                       const std::function<bool(std::string_view)>&) {
    return {};
}
const char* DescribeVerdict(WsDiscoveryVerdict) {
    return "not XML";
}
NeighbourTable NeighbourTable::Read(const std::string&) {
    return {};
}
std::string NeighbourTable::MacOf(std::uint32_t address) const {
    const auto found = macs_.find(address);
    return found == macs_.end() ? std::string() : found->second;
}
bool OuiVendors::Load(const std::string&) {
    return false;
}
std::string OuiVendors::VendorOf(std::string_view) const {
    return {};
}

}  // namespace vantrel
