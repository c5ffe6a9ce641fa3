#pragma once

// The compared attributes of every direct child of the device section, hashed, so that the duplicate checks
// before each add do not walk 10,000 devices' attribute lists. The store drops it whenever it changes
// attribute values of existing elements or removes anything; additions of new devices are appended.
//
// It also counts the name and host hashes present and the entries that lack each attribute, so that a lookup
// whose hash no entry has, and which would add no attribute on its walk, is answered without walking.

#include <array>
#include <cstdint>
#include <string_view>
#include <unordered_map>
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
    void Invalidate();
    std::vector<DeviceScanEntry>& Entries() { return entries_; }

    // Gives entry the attribute of field (empty) when it lacks it, as reading it through the element would:
    // the same elements gain the same empty attributes, in the same order, as a walk over the attribute lists.
    void Touch(DeviceScanEntry& entry, DeviceScanField field, const char* attribute);
    // True when no entry's field (kScanName or kScanHost) hashes to hash and no entry lacks any attribute
    // of touched: a walk would then neither match nor change anything.
    bool WalkIsIdle(DeviceScanField field, std::uint64_t hash, std::uint8_t touched) const;

private:
    static DeviceScanEntry Describe(XmlNodeRef node);
    void Count(const DeviceScanEntry& entry, int step);

    std::vector<DeviceScanEntry> entries_;
    std::unordered_map<std::uint64_t, std::uint32_t> names_;  // hash -> entries with it
    std::unordered_map<std::uint64_t, std::uint32_t> hosts_;
    std::array<std::uint32_t, 5> lacking_{};  // per DeviceScanField bit: entries without that attribute
    XmlNodeRef section_;
    bool valid_ = false;
};

}  // namespace vantrel
