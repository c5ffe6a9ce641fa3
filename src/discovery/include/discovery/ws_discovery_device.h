#pragma once

// The device's side of WS-Discovery, for the simulator and the tests: reading a Probe and answering it.

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "discovery/ws_discovery.h"

namespace vantrel {

struct WsDiscoveryProbe {
    std::string messageId;
    std::vector<std::pair<std::string, std::string>> types;  // (namespace URI, local name); empty: any device
};

// False when the datagram is not a SOAP Probe with a MessageID, or names a type through a prefix that is not bound.
bool ParseWsDiscoveryProbe(const unsigned char* data, std::size_t size, WsDiscoveryProbe& probe);

// True when an ONVIF camera (a dn:NetworkVideoTransmitter and tds:Device) is every type the probe asks for.
bool ProbeAsksForOnvifCamera(const WsDiscoveryProbe& probe);

// The ProbeMatches that answers the probe relatesTo with one match for the device: its endpoint, its types (the
// camera's two when empty), scopes for name, model (hardware), location, mac and serial where set (percent-encoded),
// then its other scopes as given, and its xaddrs. A fresh MessageID of its own.
std::string BuildWsDiscoveryProbeMatches(const std::string& relatesTo, const OnvifMatch& device);

}  // namespace vantrel
