#pragma once

// Likely causes of missing devices that the machine's own set-up shows before any reply comes: checked when a
// search starts and told in words in the status and on the scan's standard error.

#include <string>
#include <vector>

#include "discovery/adapter_list.h"

namespace vantrel {

// What a check needs to know of one local adapter with an IPv4 address.
struct AdapterFacts {
    std::string name;
    bool up = false;
    bool loopback = false;
    bool isVirtual = false;  // veth, bridge, tun, dummy and the like: no cable behind it
    int rpFilter = 0;        // effective reverse-path filter: 0 off, 1 strict, 2 loose
};

// The problems in words, most fundamental first; empty when nothing looks wrong:
// "no network adapter has an IPv4 address", "only virtual network adapters are up (veth0): ...",
// "adapter eth1 drops replies from other subnets (strict reverse-path filter, rp_filter 1)".
std::vector<std::string> DescribeSearchChecks(const std::vector<AdapterFacts>& adapters);

// The facts of the calling thread's network namespace, one entry per adapter of the list.
std::vector<AdapterFacts> GatherAdapterFacts(const AdapterList& adapters);

}  // namespace vantrel
