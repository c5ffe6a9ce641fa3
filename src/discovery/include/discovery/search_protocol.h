#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace vantrel {

class UdpBroadcastEndpoint;

// Header shared by the search probe and the search reply; the reply's fixed payload follows it.
constexpr std::size_t kSearchHeaderSize = 32;
constexpr std::size_t kReplyPayloadSize = 88;
constexpr std::size_t kMinReplySize = kSearchHeaderSize + kReplyPayloadSize;
constexpr unsigned char kProbeCode = 0xA3;
constexpr unsigned char kReplyCode = 0xB3;

// Where the reply's 88-byte payload keeps its fields, as offsets from the start of the payload (add
// kSearchHeaderSize for the datagram). Addresses are four octets in network order; the port is little-endian.
// Every other payload byte is never read.
namespace reply_offset {
inline constexpr std::size_t kAddress = 24;      // 4 bytes
inline constexpr std::size_t kSubnetMask = 28;   // 4 bytes
inline constexpr std::size_t kGateway = 32;      // 4 bytes
inline constexpr std::size_t kFourthValue = 36;  // 4 bytes, kept, never shown or compared
inline constexpr std::size_t kPort = 66;         // 2 bytes
}  // namespace reply_offset

using SearchProbe = std::array<unsigned char, kSearchHeaderSize>;
using ReplyPayload = std::array<unsigned char, kReplyPayloadSize>;

// The 32-byte probe: A3 01 00 00, 12 zero bytes, 02, 15 zero bytes.
SearchProbe BuildSearchProbe();

// A search probe (code A3, at least the header): what our own probes look like when they come back.
bool IsSearchProbe(const unsigned char* data, std::size_t length);

// Sends one probe through the endpoint; gives what Send gives (-1 when no send succeeded).
int SendSearchProbe(UdpBroadcastEndpoint& endpoint);

// Tells search replies from everything else arriving on the search port.
class ReplyDecoder {
public:
    virtual ~ReplyDecoder() = default;

    // 1 when data is a search reply (code B3, length 32 + extra length + 88, payload length 88, byte 16 = 2),
    // after copying its 88 payload bytes to payload; 0 otherwise, payload untouched. Never reads past length.
    int Decode(const unsigned char* data, std::size_t length, unsigned char* payload) const;
};

}  // namespace vantrel
