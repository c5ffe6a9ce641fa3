// Arbitrary datagrams through the WS-Discovery parsers, both as they come and placed inside a well-formed
// ProbeMatches (so that the fuzzer reaches the scopes without first having to invent SOAP), and arbitrary text
// through the neighbour table and OUI list readers.
#include <cstddef>
#include <cstdint>
#include <string>

#include "discovery/ws_discovery.h"
#include "discovery/ws_discovery_device.h"
#include "neighbour_table.h"
#include "oui_vendors.h"

namespace {

using namespace vantrel;

const char kHead[] =
    "<e:Envelope xmlns:e=\"http://www.w3.org/2003/05/soap-envelope\" "
    "xmlns:a=\"http://schemas.xmlsoap.org/ws/2004/08/addressing\" "
    "xmlns:d=\"http://schemas.xmlsoap.org/ws/2005/04/discovery\"><e:Header><a:RelatesTo>urn:uuid:ours</a:RelatesTo>"
    "</e:Header><e:Body><d:ProbeMatches><d:ProbeMatch><a:EndpointReference><a:Address>urn:uuid:x</a:Address>"
    "</a:EndpointReference><d:Scopes>";
const char kTail[] = "</d:Scopes></d:ProbeMatch></d:ProbeMatches></e:Body></e:Envelope>";

bool Printable(const std::string& text) {
    for (const char c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            return false;
        }
    }
    return true;
}

void Check(const std::string& datagram) {
    const WsDiscoveryReply reply =
        ParseWsDiscoveryReply(reinterpret_cast<const unsigned char*>(datagram.data()), datagram.size(),
                              [](std::string_view id) { return id == "urn:uuid:ours"; });
    if ((reply.verdict == WsDiscoveryVerdict::kAccepted) == reply.matches.empty() ||
        reply.matches.size() > kMaxProbeMatchesPerDatagram) {
        __builtin_trap();
    }
    for (const OnvifMatch& match : reply.matches) {
        if (match.endpoint.empty() || match.scopes.size() > kMaxScopesPerMatch || !Printable(match.name) ||
            !Printable(match.model) || !Printable(match.location) || !Printable(match.serial) ||
            !(match.mac.empty() || match.mac.size() == 17)) {
            __builtin_trap();
        }
    }
    WsDiscoveryProbe probe;
    if (ParseWsDiscoveryProbe(reinterpret_cast<const unsigned char*>(datagram.data()), datagram.size(), probe) &&
        probe.messageId.empty()) {
        __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    Check(text);
    Check(kHead + text + kTail);

    NeighbourTable::Parse(text).MacOf(0x0100000A);
    OuiVendors vendors;
    vendors.Parse(text);
    if (vendors.VendorOf(text.substr(0, 17)).size() > size) {
        __builtin_trap();
    }
    return 0;
}
