#pragma once
// Placeholder of the agreed interface until the OUI table lands; replaced by the real header.
#include <string>
#include <string_view>
#include <unordered_map>

namespace vantrel {

class OuiVendors {
public:
    bool Load(const std::string& path = "/usr/share/ieee-data/oui.txt");
    std::string VendorOf(std::string_view mac) const;

private:
    std::unordered_map<std::string, std::string> vendors_;
};

}  // namespace vantrel
