#pragma once
// Placeholder of the agreed interface until the WS-Discovery codec lands; replaced by the real header.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel {

inline constexpr std::uint16_t kWsDiscoveryPort = 3702;
inline constexpr const char* kWsDiscoveryGroup = "239.255.255.250";
inline constexpr std::size_t kMaxWsDiscoveryDatagram = 65507;
inline constexpr std::size_t kMaxProbeMatchesPerDatagram = 16;
inline constexpr std::size_t kMaxScopesPerMatch = 64;
enum class WsDiscoveryType { kNetworkVideoTransmitter, kDevice };
std::string NewWsDiscoveryMessageId();
std::string BuildWsDiscoveryProbe(const std::string& messageId, WsDiscoveryType type);
bool LooksLikeWsDiscovery(const unsigned char* data, std::size_t size);
struct OnvifMatch {
    std::string endpoint;
    std::vector<std::string> types, scopes, xaddrs;
    std::string name, model, location, mac, serial;
};
enum class WsDiscoveryVerdict { kAccepted, kTooLarge, kNotXml, kNotProbeMatches, kNotOurs, kNoMatch };
struct WsDiscoveryReply {
    WsDiscoveryVerdict verdict = WsDiscoveryVerdict::kNotXml;
    std::vector<OnvifMatch> matches;
    std::size_t badMatches = 0;
    std::string relatesTo;
};
WsDiscoveryReply ParseWsDiscoveryReply(const unsigned char* data, std::size_t size,
                                       const std::function<bool(std::string_view messageId)>& isOurs);
const char* DescribeVerdict(WsDiscoveryVerdict verdict);

}  // namespace vantrel
