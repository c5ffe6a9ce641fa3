#pragma once

// "Probe address": both searches sent to one address, and what came of each: a reply, an ICMP unreachable
// (IP_RECVERR), a failed send, or nothing within the time. Uses a socket of its own on an ephemeral port, so it
// runs beside a search without touching it; it blocks for up to the time given (a window runs it on a worker
// thread).

#include <cstdint>
#include <string>

#include "discovery/found_device.h"

namespace vantrel {

struct AddressProbeOptions {
    std::uint16_t nativePort = 5050;
    std::uint16_t wsDiscoveryPort = 3702;
    int timeoutMs = 2000;
};

enum class ProbeAnswer {
    kNothing,      // nothing within the time
    kReply,        // the device answered
    kUnreachable,  // an ICMP error came back (detail: "port unreachable", "host unreachable", ...)
    kSendFailed,   // the probe could not be sent (detail: the reason)
};

struct AddressProbeResult {
    ProbeAnswer native = ProbeAnswer::kNothing;
    ProbeAnswer onvif = ProbeAnswer::kNothing;
    std::string nativeDetail;  // "port 8000" for a reply
    std::string onvifDetail;   // the device's name and model for a reply, when it gives them
    FoundDevice device;        // the native reply's announcement
};

// Sends the native probe to address:nativePort and the two WS-Discovery probes to address:wsDiscoveryPort
// (address in network order) and waits until both have an answer or the time is over.
AddressProbeResult ProbeAddress(std::uint32_t address, const AddressProbeOptions& options);

// "10.1.0.2: native reply (port 8000); ONVIF reply (Cam 1, NVT-200)",
// "10.1.0.9: native: ICMP port unreachable; ONVIF: nothing within 2000 ms".
std::string DescribeAddressProbe(std::uint32_t address, const AddressProbeResult& result, int timeoutMs);

}  // namespace vantrel
