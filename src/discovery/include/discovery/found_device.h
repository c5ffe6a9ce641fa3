#pragma once

#include <cstdint>
#include <string>

namespace vantrel {

// A device as its search reply describes it; numbers as received (addresses in network byte order).
struct FoundDevice {
    std::uint32_t address = 0;
    std::uint32_t subnetMask = 0;
    std::uint32_t gateway = 0;
    std::uint32_t fourthValue = 0;  // kept, never shown or compared
    std::uint16_t port = 0;
    char addressText[16] = {};  // dotted decimal of address
};

// Builds the entry from the 88 payload bytes of a decoded reply.
FoundDevice MakeFoundDevice(const unsigned char* payload);

// Dotted decimal of an address in network byte order, e.g. "192.168.1.100".
std::string DottedDecimal(std::uint32_t networkOrderAddress);

// Texts of the search list's columns for an entry.
std::string AddressText(const FoundDevice& device);
std::string PortText(const FoundDevice& device);  // decimal, "5050"
std::string SubnetMaskText(const FoundDevice& device);
std::string GatewayText(const FoundDevice& device);

// Two replies describe one device when address and port agree; mask, gateway and the fourth value do not count.
bool SameDevice(const FoundDevice& a, const FoundDevice& b);
// A key equal for exactly the entries SameDevice calls the same, for hashing.
std::uint64_t DeviceIdentityKey(const FoundDevice& device);

}  // namespace vantrel
