#pragma once

// The devices already in the database, as a search needs them: a hash of host text + port, and of names.
// An owner fills one from its records and hands it to SearchSession::SetRegistered; a look-up is one hash probe.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_set>

#include "discovery/found_device.h"

namespace vantrel {

class RegisteredDevices {
public:
    // Room for that many devices, so that filling the sets does not rehash them on the way.
    void Reserve(std::size_t devices);
    // A registered device's host text (as stored: "192.168.1.100") and port (only its low 16 bits are stored).
    // A host that is not dotted decimal (a DNS name) is kept too, and matches only that same text.
    void Add(std::string_view host, std::uint32_t port);
    // A registered device's name; names compare byte for byte.
    void AddName(std::string_view name);

    // A reply's device is registered when its address text and port are.
    bool Contains(const FoundDevice& device) const;
    bool ContainsHost(std::string_view host, std::uint32_t port) const;
    bool ContainsName(std::string_view name) const;

    // Distinct host + port pairs.
    std::size_t Size() const { return numeric_.size() + otherHosts_.size(); }
    bool Empty() const { return numeric_.empty() && otherHosts_.empty() && names_.empty(); }

private:
    std::unordered_set<std::uint64_t> numeric_;   // DeviceIdentityKey of dotted-decimal hosts
    std::unordered_set<std::string> otherHosts_;  // "host" + '\n' + port for every other host text
    std::unordered_set<std::string> names_;
};

}  // namespace vantrel
