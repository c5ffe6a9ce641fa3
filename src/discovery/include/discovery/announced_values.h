#pragma once

// What a reply may announce: addresses and ports no device can have are refused; masks that are possible but
// wrong are listed with a warning.

#include <cstdint>
#include <string>

#include "discovery/found_device.h"

namespace vantrel {

// Why an address (network order) cannot be a device's address, or null when it can be one: 0.0.0.0/8 ("this
// network"), loopback (127.0.0.0/8), multicast (224.0.0.0/4), reserved (240.0.0.0/4, with 255.255.255.255).
const char* UnlistableAddressReason(std::uint32_t networkOrderAddress);

// Why a native reply's announcement cannot be a device, or null: an unlistable address, port 0, or the
// network or broadcast address of the subnet it announces (a contiguous mask of /30 or shorter).
const char* ImpossibleAnnouncementReason(const FoundDevice& device);

// True for a mask (network order) whose one bits are not all leading ("255.0.255.0"). 0.0.0.0 is contiguous.
bool IsContiguousMask(std::uint32_t networkOrderMask);

// The warning for a device announcing this mask, or empty: "subnet mask 0.0.0.0" and "subnet mask
// 255.0.255.0 is not contiguous" mark a misconfigured device that is still listed.
std::string MaskWarning(std::uint32_t networkOrderMask);

}  // namespace vantrel
