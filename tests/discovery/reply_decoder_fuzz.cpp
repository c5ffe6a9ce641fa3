#include <cstddef>
#include <cstdint>
#include <cstring>

#include "discovery/found_device.h"
#include "discovery/search_protocol.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vantrel;
    ReplyPayload payload{};
    if (ReplyDecoder().Decode(data, size, payload.data()) == 1) {
        const FoundDevice device = MakeFoundDevice(payload.data());
        if (std::strlen(device.addressText) > 15 || PortText(device).size() > 5) {
            __builtin_trap();
        }
    }
    return 0;
}
