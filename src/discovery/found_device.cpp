#include "discovery/found_device.h"

#include <arpa/inet.h>

#include <cstdio>
#include <cstring>

#include "discovery/search_protocol.h"

namespace vantrel {

namespace {

std::uint32_t ReadRaw32(const unsigned char* p) {
    std::uint32_t value;
    std::memcpy(&value, p, sizeof value);
    return value;
}

void FormatDotted(std::uint32_t networkOrderAddress, char (&text)[16]) {
    in_addr address{};
    address.s_addr = networkOrderAddress;
    if (inet_ntop(AF_INET, &address, text, sizeof text) == nullptr) {
        text[0] = '\0';
    }
}

}  // namespace

FoundDevice MakeFoundDevice(const unsigned char* payload) {
    FoundDevice device;
    device.address = ReadRaw32(payload + reply_offset::kAddress);
    device.subnetMask = ReadRaw32(payload + reply_offset::kSubnetMask);
    device.gateway = ReadRaw32(payload + reply_offset::kGateway);
    device.fourthValue = ReadRaw32(payload + reply_offset::kFourthValue);
    device.port = static_cast<std::uint16_t>(payload[reply_offset::kPort] | payload[reply_offset::kPort + 1] << 8);
    FormatDotted(device.address, device.addressText);
    return device;
}

std::string DottedDecimal(std::uint32_t networkOrderAddress) {
    char text[16];
    FormatDotted(networkOrderAddress, text);
    return text;
}

std::string AddressText(const FoundDevice& device) {
    return device.addressText;
}

std::string PortText(const FoundDevice& device) {
    return std::to_string(device.port);
}

std::string SubnetMaskText(const FoundDevice& device) {
    return DottedDecimal(device.subnetMask);
}

std::string GatewayText(const FoundDevice& device) {
    return DottedDecimal(device.gateway);
}

bool SameDevice(const FoundDevice& a, const FoundDevice& b) {
    return a.address == b.address && a.port == b.port;
}

std::uint64_t DeviceIdentityKey(const FoundDevice& device) {
    return std::uint64_t{device.address} << 16 | device.port;
}

}  // namespace vantrel
