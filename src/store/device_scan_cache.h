#pragma once

// The compared attributes of every direct child of the device section, hashed, so that the duplicate checks
// before each add do not walk 10,000 devices' attribute lists. The store drops it whenever it changes
// attribute values of existing elements or removes anything; additions of new devices are appended.

#include <cstdint>
#include <string_view>
#include <vector>

#include "xml/xml_node_ref.h"

namespace vantrel {

enum DeviceScanField : std::uint8_t {
    kScanName = 1,
    kScanHost = 2,
    kScanPort = 4,
    kScanDdnsHost = 8,
    kScanDdnsPort = 16,
};

struct DeviceScanEntry {
    XmlNodeRef node;
    std::uint64_t name;  // hashes of the values; a missing attribute hashes as the empty text
    std::uint64_t host;
    std::uint64_t ddnsHost;
    std::uint32_t port;  // as read by decimal conversion; 0 when missing
    std::uint32_t ddnsPort;
    std::uint8_t present;  // DeviceScanField bits of the attributes the element has
};

std::uint64_t HashText(std::string_view text);

class DeviceScanCache {
public:
    // True when the cache describes exactly the children of this section.
    bool IsValidFor(XmlNodeRef section) const {
        return valid_ && section == section_ && section.ChildCount() == entries_.size();
    }
    void Build(XmlNodeRef section);
    // Adds the section's newest child; drops the cache unless it was valid just before that child.
    void Append(XmlNodeRef section, XmlNodeRef child);
    // Called before parent's child at index is removed with everything below it.
    void BeforeRemoval(XmlNodeRef parent, std::uint32_t index);
    void Invalidate() {
        valid_ = false;
        entries_.clear();
    }
    std::vector<DeviceScanEntry>& Entries() { return entries_; }

private:
    static DeviceScanEntry Describe(XmlNodeRef node);

    std::vector<DeviceScanEntry> entries_;
    XmlNodeRef section_;
    bool valid_ = false;
};

}  // namespace vantrel
