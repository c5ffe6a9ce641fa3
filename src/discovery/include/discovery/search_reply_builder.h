#pragma once

#include <cstdint>
#include <vector>

#include "discovery/found_device.h"

namespace vantrel {

// The search reply a device sends for an entry (address, mask, gateway, fourth value and port are used),
// followed by extraLength bytes of filler; for the device simulator and for tests.
std::vector<unsigned char> BuildSearchReply(const FoundDevice& device, unsigned char extraLength = 0);

}  // namespace vantrel
