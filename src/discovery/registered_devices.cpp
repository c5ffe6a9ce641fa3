#include "discovery/registered_devices.h"

#include <arpa/inet.h>

namespace vantrel {
namespace {

// strict dotted decimal to network order, as the search lists addresses; false for every other text
bool DottedToAddress(std::string_view host, std::uint32_t& address) {
    char text[INET_ADDRSTRLEN];
    if (host.empty() || host.size() >= sizeof text) {
        return false;
    }
    host.copy(text, host.size());
    text[host.size()] = '\0';
    in_addr value{};
    if (inet_pton(AF_INET, text, &value) != 1) {
        return false;
    }
    address = value.s_addr;
    return true;
}

std::uint64_t Key(std::uint32_t networkOrderAddress, std::uint32_t port) {
    FoundDevice device;
    device.address = networkOrderAddress;
    device.port = static_cast<std::uint16_t>(port);
    return DeviceIdentityKey(device);
}

std::string OtherHostKey(std::string_view host, std::uint32_t port) {
    std::string key(host);
    key += '\n';
    key += std::to_string(port & 0xFFFFu);
    return key;
}

}  // namespace

void RegisteredDevices::Reserve(std::size_t devices) {
    numeric_.reserve(devices);
    names_.reserve(devices);
}

void RegisteredDevices::Add(std::string_view host, std::uint32_t port) {
    std::uint32_t address = 0;
    if (DottedToAddress(host, address)) {
        numeric_.insert(Key(address, port));
    } else {
        otherHosts_.insert(OtherHostKey(host, port));
    }
}

void RegisteredDevices::AddName(std::string_view name) {
    names_.emplace(name);
}

bool RegisteredDevices::Contains(const FoundDevice& device) const {
    return numeric_.count(DeviceIdentityKey(device)) != 0;
}

bool RegisteredDevices::ContainsHost(std::string_view host, std::uint32_t port) const {
    std::uint32_t address = 0;
    if (DottedToAddress(host, address)) {
        return numeric_.count(Key(address, port)) != 0;
    }
    return otherHosts_.count(OtherHostKey(host, port)) != 0;
}

bool RegisteredDevices::ContainsName(std::string_view name) const {
    return names_.count(std::string(name)) != 0;
}

}  // namespace vantrel
