#include "discovery/announced_values.h"

#include <arpa/inet.h>

namespace vantrel {

const char* UnlistableAddressReason(std::uint32_t networkOrderAddress) {
    const std::uint32_t address = ntohl(networkOrderAddress);
    if (address == 0xFFFFFFFFu) {
        return "the limited broadcast address";
    }
    if ((address >> 24) == 0) {
        return "an address of \"this network\" (0.0.0.0/8)";
    }
    if ((address >> 24) == 127) {
        return "a loopback address";
    }
    if ((address >> 28) == 0xE) {
        return "a multicast address";
    }
    if ((address >> 28) == 0xF) {
        return "a reserved address (240.0.0.0/4)";
    }
    return nullptr;
}

bool IsContiguousMask(std::uint32_t networkOrderMask) {
    const std::uint32_t mask = ntohl(networkOrderMask);
    // the zero bits of a contiguous mask form one run at the bottom: inverted, it is 2^k - 1
    const std::uint32_t hostBits = ~mask;
    return (hostBits & (hostBits + 1)) == 0;
}

const char* ImpossibleAnnouncementReason(const FoundDevice& device) {
    if (const char* reason = UnlistableAddressReason(device.address)) {
        return reason;
    }
    if (device.port == 0) {
        return "port 0";
    }
    const std::uint32_t mask = ntohl(device.subnetMask);
    // /31 and /32 have no network or broadcast address; a wrong mask is the device's problem, shown as such
    if (mask == 0 || !IsContiguousMask(device.subnetMask) || ~mask < 3) {
        return nullptr;
    }
    const std::uint32_t address = ntohl(device.address);
    if ((address & ~mask) == 0) {
        return "the network address of its subnet";
    }
    if ((address & ~mask) == ~mask) {
        return "the broadcast address of its subnet";
    }
    return nullptr;
}

std::string MaskWarning(std::uint32_t networkOrderMask) {
    if (networkOrderMask == 0) {
        return "subnet mask 0.0.0.0";
    }
    if (!IsContiguousMask(networkOrderMask)) {
        return "subnet mask " + DottedDecimal(networkOrderMask) + " is not contiguous";
    }
    return {};
}

}  // namespace vantrel
