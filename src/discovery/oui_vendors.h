#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel {

// Maker names by the MAC's first three bytes, from Debian's ieee-data (/usr/share/ieee-data/oui.txt, lines
// "00-1A-2B   (hex)\t\tName"; the other lines of the file are skipped).
class OuiVendors {
public:
    // False (and empty) when the file cannot be read; loads quickly (it is a few MB, read once per run).
    bool Load(const std::string& path = "/usr/share/ieee-data/oui.txt");
    // The same from the file's text; for an OUI listed twice, the first line wins.
    void Parse(std::string_view text);

    // Maker of "aa:bb:cc:..." (any case, ':' or '-' between the bytes); empty when unknown or not a MAC.
    std::string VendorOf(std::string_view mac) const;

private:
    struct Entry {
        std::uint32_t oui;
        std::uint32_t nameOffset;
        std::uint32_t nameLength;
    };
    std::vector<Entry> entries_;  // sorted by oui
    std::string names_;
};

}  // namespace vantrel
