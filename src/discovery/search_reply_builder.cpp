#include "discovery/search_reply_builder.h"

#include <cstring>

#include "discovery/search_protocol.h"

std::vector<unsigned char> BuildSearchReply(const FoundDevice& device, unsigned char extraLength) {
    std::vector<unsigned char> reply(kMinReplySize + extraLength, 0);
    reply[0] = kReplyCode;
    reply[1] = 0x01;
    reply[2] = extraLength;
    reply[4] = static_cast<unsigned char>(kReplyPayloadSize);
    reply[16] = 0x02;
    unsigned char* payload = reply.data() + kSearchHeaderSize;
    std::memcpy(payload + 24, &device.address, 4);
    std::memcpy(payload + 28, &device.subnetMask, 4);
    std::memcpy(payload + 32, &device.gateway, 4);
    std::memcpy(payload + 36, &device.fourthValue, 4);
    payload[66] = static_cast<unsigned char>(device.port & 0xFF);
    payload[67] = static_cast<unsigned char>(device.port >> 8);
    for (std::size_t i = kMinReplySize; i < reply.size(); ++i) {
        reply[i] = 0xEE;
    }
    return reply;
}
