#include "oui_vendors.h"

#include <algorithm>
#include <cstring>

#include "files/file_read.h"
#include "mac_address.h"

namespace vantrel {
namespace {

// Debian's list is about 6 MB and grows slowly; this leaves it ample room and refuses anything absurd.
constexpr std::uint64_t kMaxListBytes = 128 * 1024 * 1024;
constexpr std::string_view kHexMarker = "(hex)";

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

// The first three bytes of "00-1A-2B..." or "00:1a:2b..." (the separators are the caller's to check).
bool ReadOui(std::string_view text, std::uint32_t& oui) {
    if (text.size() < 8) {
        return false;
    }
    oui = 0;
    for (const std::size_t at : {0, 1, 3, 4, 6, 7}) {
        const int value = HexDigitValue(text[at]);
        if (value < 0) {
            return false;
        }
        oui = oui << 4 | static_cast<std::uint32_t>(value);
    }
    return true;
}

// "00-1A-2B   (hex)\t\tName": the OUI and the name, false for every other line.
bool ParseOuiLine(std::string_view line, std::uint32_t& oui, std::string_view& name) {
    if (line.size() < 8 || line[2] != '-' || line[5] != '-' || !ReadOui(line, oui)) {
        return false;
    }
    std::size_t i = 8;
    while (i < line.size() && IsBlank(line[i])) {
        ++i;
    }
    if (line.substr(i, kHexMarker.size()) != kHexMarker) {
        return false;
    }
    name = line.substr(i + kHexMarker.size());
    while (!name.empty() && IsBlank(name.front())) {
        name.remove_prefix(1);
    }
    while (!name.empty() && IsBlank(name.back())) {
        name.remove_suffix(1);
    }
    return !name.empty();
}

}  // namespace

bool OuiVendors::Load(const std::string& path) {
    const FileContents contents = ReadRegularFile(path, kMaxListBytes, true);
    if (contents.status != FileReadStatus::Read) {
        entries_.clear();
        names_.clear();
        return false;
    }
    Parse(contents.bytes);
    return true;
}

void OuiVendors::Parse(std::string_view text) {
    entries_.clear();
    names_.clear();
    std::size_t start = 0;
    while (start < text.size()) {
        const char* newline = static_cast<const char*>(std::memchr(text.data() + start, '\n', text.size() - start));
        const std::size_t end = newline == nullptr ? text.size() : static_cast<std::size_t>(newline - text.data());
        std::uint32_t oui = 0;
        std::string_view name;
        if (ParseOuiLine(text.substr(start, end - start), oui, name)) {
            entries_.push_back(
                {oui, static_cast<std::uint32_t>(names_.size()), static_cast<std::uint32_t>(name.size())});
            names_.append(name);
        }
        start = end + 1;
    }
    // stable, so that the first of two lines for one OUI stays first
    std::stable_sort(entries_.begin(), entries_.end(), [](const Entry& a, const Entry& b) { return a.oui < b.oui; });
}

std::string OuiVendors::VendorOf(std::string_view mac) const {
    std::uint32_t oui = 0;
    if (!ReadOui(NormalisedMac(mac), oui)) {
        return {};
    }
    const auto found = std::lower_bound(entries_.begin(), entries_.end(), oui,
                                        [](const Entry& entry, std::uint32_t key) { return entry.oui < key; });
    if (found == entries_.end() || found->oui != oui) {
        return {};
    }
    return names_.substr(found->nameOffset, found->nameLength);
}

}  // namespace vantrel
