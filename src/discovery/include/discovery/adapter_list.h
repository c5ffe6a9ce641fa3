#pragma once

// The local IPv4 adapters (getifaddrs), for telling which adapter a reply came in by and whether the device's
// address lies in that adapter's subnet.

#include <cstdint>
#include <string>
#include <vector>

namespace vantrel {

struct AdapterAddress {
    int index = 0;
    std::string name;
    std::uint32_t address = 0;  // network order
    std::uint32_t mask = 0;     // network order
    unsigned flags = 0;         // IFF_UP, IFF_BROADCAST, IFF_MULTICAST, IFF_LOOPBACK, ...
};

class AdapterList {
public:
    // Reads the adapters of the calling thread's network namespace; false (list kept) when getifaddrs fails.
    bool Reload();
    // For tests: the list as given.
    void Assign(std::vector<AdapterAddress> addresses) { addresses_ = std::move(addresses); }

    // The adapter's address that suits a reply for announcedAddress (network order) arriving on it: the one
    // whose subnet holds the announced address, else the one equal to preferredLocal (the address the kernel
    // chose for the datagram), else its first. Null when the index is unknown.
    const AdapterAddress* Find(int index, std::uint32_t announcedAddress, std::uint32_t preferredLocal) const;
    bool Knows(int index) const;
    // One address per adapter that is up, not loopback and has every flag of wantedFlags (IFF_BROADCAST for
    // the native probe, IFF_MULTICAST for WS-Discovery): the adapters a probe goes out by.
    std::vector<AdapterAddress> SendingAdapters(unsigned wantedFlags) const;
    const std::vector<AdapterAddress>& Addresses() const { return addresses_; }

    // True when address (network order) lies in the adapter address's subnet.
    static bool InSubnet(const AdapterAddress& adapter, std::uint32_t address);

private:
    std::vector<AdapterAddress> addresses_;
};

}  // namespace vantrel
