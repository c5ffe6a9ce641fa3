#include "discovery/search_protocol.h"

#include <cstring>

#include "discovery/udp_broadcast_endpoint.h"

namespace vantrel {

SearchProbe BuildSearchProbe() {
    SearchProbe probe{};
    probe[0] = kProbeCode;
    probe[1] = 0x01;
    probe[16] = 0x02;
    return probe;
}

bool IsSearchProbe(const unsigned char* data, std::size_t length) {
    return data != nullptr && length >= kSearchHeaderSize && data[0] == kProbeCode;
}

int SendSearchProbe(UdpBroadcastEndpoint& endpoint) {
    const SearchProbe probe = BuildSearchProbe();
    return endpoint.Send(probe.data(), probe.size());
}

int ReplyDecoder::Decode(const unsigned char* data, std::size_t length, unsigned char* payload) const {
    // every reply is at least header plus payload; shorter datagrams cannot pass the length test, and checking
    // first keeps the header reads inside the datagram
    if (data == nullptr || length < kMinReplySize) {
        return 0;
    }
    if (data[0] != kReplyCode) {
        return 0;
    }
    const std::uint64_t extraLength = data[2];
    const std::uint64_t payloadLength = std::uint64_t{data[4]} | std::uint64_t{data[5]} << 8 |
                                        std::uint64_t{data[6]} << 16 | std::uint64_t{data[7]} << 24;
    // 64-bit sum: a huge payload length must not wrap round to the real length
    if (std::uint64_t{length} != kSearchHeaderSize + extraLength + payloadLength) {
        return 0;
    }
    if (payloadLength != kReplyPayloadSize) {
        return 0;
    }
    if (data[16] != 0x02) {
        return 0;
    }
    std::memcpy(payload, data + kSearchHeaderSize, kReplyPayloadSize);
    return 1;
}

}  // namespace vantrel
