#include "search_checks.h"

#include <linux/ethtool.h>
#include <linux/sockios.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>

namespace vantrel {
namespace {

// drivers of adapters that are not a network card: a namespace link, a bridge, a tunnel
constexpr const char* kVirtualDrivers[] = {"veth",   "bridge",  "tun", "dummy",       "vxlan",
                                           "ipvlan", "macvlan", "vrf", "openvswitch", "wireguard",
                                           "ipip",   "ip_gre",  "sit", "nlmon",       "ifb"};

int ReadRpFilter(const std::string& adapter) {
    std::ifstream file("/proc/sys/net/ipv4/conf/" + adapter + "/rp_filter");
    int value = 0;
    return (file >> value) ? value : 0;
}

// The adapter's driver (ethtool); an adapter without one (no ethtool support) counts as virtual
bool IsVirtualAdapter(int fd, const std::string& adapter) {
    ethtool_drvinfo info{};
    info.cmd = ETHTOOL_GDRVINFO;
    ifreq request{};
    std::strncpy(request.ifr_name, adapter.c_str(), IFNAMSIZ - 1);
    request.ifr_data = reinterpret_cast<char*>(&info);
    if (fd < 0 || ioctl(fd, SIOCETHTOOL, &request) < 0) {
        return true;
    }
    return std::any_of(std::begin(kVirtualDrivers), std::end(kVirtualDrivers),
                       [&](const char* driver) { return std::strcmp(info.driver, driver) == 0; });
}

}  // namespace

std::vector<std::string> DescribeSearchChecks(const std::vector<AdapterFacts>& adapters) {
    std::vector<const AdapterFacts*> usable;
    for (const AdapterFacts& adapter : adapters) {
        if (adapter.up && !adapter.loopback) {
            usable.push_back(&adapter);
        }
    }
    if (usable.empty()) {
        return {"no network adapter has an IPv4 address"};
    }
    std::vector<std::string> problems;
    if (std::all_of(usable.begin(), usable.end(), [](const AdapterFacts* adapter) { return adapter->isVirtual; })) {
        std::string names;
        for (const AdapterFacts* adapter : usable) {
            names += (names.empty() ? "" : ", ") + adapter->name;
        }
        problems.push_back("only virtual network adapters are up (" + names +
                           "): devices on a cable cannot answer; is the network card connected?");
    }
    for (const AdapterFacts* adapter : usable) {
        if (adapter->rpFilter == 1) {
            problems.push_back("adapter " + adapter->name +
                               " drops replies from other subnets (strict reverse-path filter, rp_filter 1); "
                               "devices with a wrong address are not seen");
        }
    }
    return problems;
}

std::vector<AdapterFacts> GatherAdapterFacts(const AdapterList& adapters) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    // the kernel applies the stricter of the "all" setting and the adapter's own
    const int allRpFilter = ReadRpFilter("all");
    std::vector<AdapterFacts> facts;
    for (const AdapterAddress& address : adapters.Addresses()) {
        const bool seen = std::any_of(facts.begin(), facts.end(),
                                      [&](const AdapterFacts& known) { return known.name == address.name; });
        if (seen) {
            continue;
        }
        AdapterFacts adapter;
        adapter.name = address.name;
        adapter.up = (address.flags & IFF_UP) != 0;
        adapter.loopback = (address.flags & IFF_LOOPBACK) != 0;
        adapter.isVirtual = !adapter.loopback && IsVirtualAdapter(fd, address.name);
        adapter.rpFilter = std::max(allRpFilter, ReadRpFilter(address.name));
        facts.push_back(adapter);
    }
    if (fd >= 0) {
        ::close(fd);
    }
    return facts;
}

}  // namespace vantrel
