#include "device_scan_cache.h"

#include "xml/xml_node_ref.h"

namespace vantrel {

std::uint64_t HashText(std::string_view text) {
    // FNV-1a: short texts, no need for anything stronger (matches are verified byte for byte)
    std::uint64_t hash = 0xcbf29ce484222325ull;
    for (char c : text) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001b3ull;
    }
    return hash;
}

DeviceScanEntry DeviceScanCache::Describe(XmlNodeRef node) {
    DeviceScanEntry entry{node, 0, 0, 0, 0, 0, 0};
    XmlAttributeRef name = node.FindAttribute("name");
    XmlAttributeRef host = node.FindAttribute("host");
    XmlAttributeRef port = node.FindAttribute("port");
    XmlAttributeRef ddnsHost = node.FindAttribute("DDNSHost");
    XmlAttributeRef ddnsPort = node.FindAttribute("DDNSPort");
    entry.present = static_cast<std::uint8_t>(
        (name.IsValid() ? kScanName : 0) | (host.IsValid() ? kScanHost : 0) | (port.IsValid() ? kScanPort : 0) |
        (ddnsHost.IsValid() ? kScanDdnsHost : 0) | (ddnsPort.IsValid() ? kScanDdnsPort : 0));
    entry.name = HashText(name.ValueView());
    entry.host = HashText(host.ValueView());
    entry.ddnsHost = HashText(ddnsHost.ValueView());
    entry.port = port.ValueAsUnsigned();
    entry.ddnsPort = ddnsPort.ValueAsUnsigned();
    return entry;
}

void DeviceScanCache::Build(XmlNodeRef section) {
    entries_.clear();
    entries_.reserve(section.ChildCount() + 64);
    for (std::uint32_t i = 0; i < section.ChildCount(); ++i) {
        entries_.push_back(Describe(section.Child(i)));
    }
    section_ = section;
    valid_ = true;
}

void DeviceScanCache::BeforeRemoval(XmlNodeRef parent, std::uint32_t index) {
    if (!valid_) {
        return;
    }
    XmlNodeRef top = parent.Child(index);
    if (section_ == top || section_.IsBelow(top)) {
        Invalidate();
        return;
    }
    if (parent != section_) {
        return;
    }
    if (index < entries_.size() && entries_[index].node == top) {
        entries_.erase(entries_.begin() + index);
    } else {
        Invalidate();
    }
}

void DeviceScanCache::Append(XmlNodeRef section, XmlNodeRef child) {
    if (!valid_ || section != section_ || section.ChildCount() != entries_.size() + 1 ||
        section.Child(section.ChildCount() - 1) != child) {
        Invalidate();
        return;
    }
    entries_.push_back(Describe(child));
}

}  // namespace vantrel
