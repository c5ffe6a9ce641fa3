#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

class UdpBroadcastEndpoint;

// Header shared by the search probe and the search reply; the reply's fixed payload follows it.
constexpr std::size_t kSearchHeaderSize = 32;
constexpr std::size_t kReplyPayloadSize = 88;
constexpr std::size_t kMinReplySize = kSearchHeaderSize + kReplyPayloadSize;
constexpr unsigned char kProbeCode = 0xA3;
constexpr unsigned char kReplyCode = 0xB3;

using SearchProbe = std::array<unsigned char, kSearchHeaderSize>;
using ReplyPayload = std::array<unsigned char, kReplyPayloadSize>;

// The 32-byte probe: A3 01 00 00, 12 zero bytes, 02, 15 zero bytes.
SearchProbe BuildSearchProbe();

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
