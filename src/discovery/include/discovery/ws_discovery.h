#pragma once

// ONVIF devices are found through WS-Discovery (2005/04, SOAP 1.2 over UDP): a typed Probe goes to the multicast
// group (or unicast to one address) and each device answers the prober with a ProbeMatches message.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel {

inline constexpr std::uint16_t kWsDiscoveryPort = 3702;
inline constexpr const char* kWsDiscoveryGroup = "239.255.255.250";

// A ProbeMatches from a real device is one to four kB; 32 kB leaves room for long scope lists while bounding the
// parser's work per datagram (a UDP datagram could carry 64 kB of hostile nesting).
inline constexpr std::size_t kMaxWsDiscoveryDatagram = 32 * 1024;
// A device answers for itself; a recorder may answer for the cameras behind it. More than this in one datagram
// is not a device's answer, and each extra entry would become a row.
inline constexpr std::size_t kMaxProbeMatchesPerDatagram = 32;
// Devices send about ten scopes; a match with more is dropped rather than let one device fill the window.
inline constexpr std::size_t kMaxScopesPerMatch = 64;

enum class WsDiscoveryType { kNetworkVideoTransmitter, kDevice };  // dn:NetworkVideoTransmitter, tds:Device

// A fresh "urn:uuid:<random v4 uuid>" (getrandom), lower case.
std::string NewWsDiscoveryMessageId();

// The SOAP 1.2 Probe (WS-Discovery 2005/04, WS-Addressing 2004/08) for one type, with this MessageID (escaped).
std::string BuildWsDiscoveryProbe(const std::string& messageId, WsDiscoveryType type);

// True when the datagram can only be meant as WS-Discovery: its first byte after blanks (and a UTF-8 byte order
// mark) is '<'. Native replies are binary and start otherwise.
bool LooksLikeWsDiscovery(const unsigned char* data, std::size_t size);

struct OnvifMatch {
    std::string endpoint;                            // EndpointReference/Address, e.g. "urn:uuid:..."
    std::vector<std::string> types, scopes, xaddrs;  // the whitespace-separated lists, split
    // From the scopes onvif://www.onvif.org/<category>/<value> (category without regard to case, value
    // percent-decoded, control characters dropped, invalid UTF-8 replaced); the first scope of a category wins.
    // location keeps the whole path after "location/"; mac is "aa:bb:cc:dd:ee:ff" or empty if not a MAC.
    std::string name, model, location, mac, serial;
};

enum class WsDiscoveryVerdict { kAccepted, kTooLarge, kNotXml, kNotProbeMatches, kNotOurs, kNoMatch };

struct WsDiscoveryReply {
    WsDiscoveryVerdict verdict = WsDiscoveryVerdict::kNotXml;
    std::vector<OnvifMatch> matches;  // at most kMaxProbeMatchesPerDatagram; empty unless accepted
    std::size_t badMatches = 0;       // ProbeMatch entries dropped (no endpoint, over the limits)
    std::string relatesTo;
};

// Parses a datagram as a ProbeMatches. A document type declaration aborts the parse (kNotXml), as does anything
// expat refuses (an unescaped '&', truncation). isOurs(relatesTo) tells whether the RelatesTo names one of our
// MessageIDs of the round; the reply's own MessageID is not looked at, so a device that reuses ours is accepted.
WsDiscoveryReply ParseWsDiscoveryReply(const unsigned char* data, std::size_t size,
                                       const std::function<bool(std::string_view messageId)>& isOurs);

// The service addresses with those whose host is the sender's address (network order, dotted decimal in the URL)
// first, the order otherwise kept: a device lists an address per adapter, and the one the reply came from is the
// one that is reachable.
std::vector<std::string> SenderFirst(const std::vector<std::string>& xaddrs, std::uint32_t sender);

// Text of a verdict for statistics ("accepted", "too large", "not XML", "not a ProbeMatches", "not ours",
// "no valid match").
const char* DescribeVerdict(WsDiscoveryVerdict verdict);

}  // namespace vantrel
