#include "discovery/adapter_list.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <algorithm>
#include <cstring>

namespace vantrel {

bool AdapterList::Reload() {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        return false;
    }
    std::vector<AdapterAddress> found;
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET || entry->ifa_name == nullptr) {
            continue;
        }
        AdapterAddress adapter;
        adapter.index = static_cast<int>(if_nametoindex(entry->ifa_name));
        if (adapter.index == 0) {
            continue;
        }
        adapter.name = entry->ifa_name;
        // an alias label ("eth0:1") names the same interface
        const std::size_t colon = adapter.name.find(':');
        if (colon != std::string::npos) {
            adapter.name.resize(colon);
        }
        adapter.flags = entry->ifa_flags;
        adapter.address = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr.s_addr;
        if (entry->ifa_netmask != nullptr) {
            adapter.mask = reinterpret_cast<const sockaddr_in*>(entry->ifa_netmask)->sin_addr.s_addr;
        }
        found.push_back(std::move(adapter));
    }
    freeifaddrs(list);
    addresses_ = std::move(found);
    return true;
}

bool AdapterList::InSubnet(const AdapterAddress& adapter, std::uint32_t address) {
    return (address & adapter.mask) == (adapter.address & adapter.mask);
}

std::vector<AdapterAddress> AdapterList::SendingAdapters(unsigned wantedFlags) const {
    std::vector<AdapterAddress> sending;
    for (const AdapterAddress& adapter : addresses_) {
        const bool usable =
            (adapter.flags & IFF_UP) && !(adapter.flags & IFF_LOOPBACK) && (adapter.flags & wantedFlags) == wantedFlags;
        const bool seen = std::any_of(sending.begin(), sending.end(),
                                      [&](const AdapterAddress& known) { return known.index == adapter.index; });
        if (usable && !seen) {
            sending.push_back(adapter);
        }
    }
    return sending;
}

bool AdapterList::Knows(int index) const {
    for (const AdapterAddress& adapter : addresses_) {
        if (adapter.index == index) {
            return true;
        }
    }
    return false;
}

const AdapterAddress* AdapterList::Find(int index, std::uint32_t announcedAddress, std::uint32_t preferredLocal) const {
    const AdapterAddress* first = nullptr;
    const AdapterAddress* preferred = nullptr;
    for (const AdapterAddress& adapter : addresses_) {
        if (adapter.index != index) {
            continue;
        }
        if (InSubnet(adapter, announcedAddress)) {
            return &adapter;
        }
        if (first == nullptr) {
            first = &adapter;
        }
        if (preferred == nullptr && adapter.address == preferredLocal) {
            preferred = &adapter;
        }
    }
    return preferred != nullptr ? preferred : first;
}

}  // namespace vantrel
