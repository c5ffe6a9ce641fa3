#include "discovery/search_reply_builder.h"

#include <cstring>

#include "discovery/search_protocol.h"

namespace vantrel {

std::vector<unsigned char> BuildSearchReply(const FoundDevice& device, unsigned char extraLength) {
    std::vector<unsigned char> reply(kMinReplySize + extraLength, 0);
    reply[0] = kReplyCode;
    reply[1] = 0x01;
    reply[2] = extraLength;
    reply[4] = static_cast<unsigned char>(kReplyPayloadSize);
    reply[16] = 0x02;
    unsigned char* payload = reply.data() + kSearchHeaderSize;
    std::memcpy(payload + reply_offset::kAddress, &device.address, 4);
    std::memcpy(payload + reply_offset::kSubnetMask, &device.subnetMask, 4);
    std::memcpy(payload + reply_offset::kGateway, &device.gateway, 4);
    std::memcpy(payload + reply_offset::kFourthValue, &device.fourthValue, 4);
    payload[reply_offset::kPort] = static_cast<unsigned char>(device.port & 0xFF);
    payload[reply_offset::kPort + 1] = static_cast<unsigned char>(device.port >> 8);
    for (std::size_t i = kMinReplySize; i < reply.size(); ++i) {
        reply[i] = 0xEE;
    }
    return reply;
}

}  // namespace vantrel
