// Arbitrary datagrams through the decoder and the receiving side of a search, and arbitrary text through the
// parser of search targets.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "discovery/found_device.h"
#include "discovery/reply_table.h"
#include "discovery/search_protocol.h"
#include "discovery/search_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vantrel;
    ReplyPayload payload{};
    if (ReplyDecoder().Decode(data, size, payload.data()) == 1) {
        const FoundDevice device = MakeFoundDevice(payload.data());
        if (std::strlen(device.addressText) > 15 || PortText(device).size() > 5) {
            __builtin_trap();
        }
    }

    // a small list, so that the limit is reached and new rounds begin now and then
    static ReplyTable table(64);
    static AdapterList adapters;
    static std::uint64_t inputs = 0;
    if (inputs++ % 256 == 0) {
        table.BeginRound(static_cast<std::uint32_t>(inputs), {});
        table.BeginProbe(1000);
    }
    ReceivedDatagram datagram;
    datagram.data = data;
    datagram.length = size;
    datagram.arrivalNs = size % 3 == 0 ? 999 : 2000;  // now and then before the round's probe
    table.Ingest(datagram, adapters);
    const PendingRows taken = table.TakePending(size % 8);
    if (table.Rows().size() > 64 || taken.rows.size() > size % 8) {
        __builtin_trap();
    }

    SearchTarget target;
    std::string problem;
    const std::string text(reinterpret_cast<const char*>(data), size);
    if (ParseSearchTarget(text, target, problem) &&
        (target.last < target.first ||
         (target.kind == SearchTarget::Kind::kUnicastRange && target.ProbeCount() > kMaxUnicastTargets))) {
        __builtin_trap();
    }
    return 0;
}
