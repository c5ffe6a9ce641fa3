#include "store/device_scan_cache.h"

#include "xml/xml_node_ref.h"

namespace vantrel {
namespace {

std::string_view ValueOf(XmlAttributeRef attribute) {
    XmlAttribute* record = attribute.Get();
    if (record == nullptr || record->value == nullptr) {
        return std::string_view();
    }
    return std::string_view(record->value, record->valueLength);
}

}  // namespace

std::uint64_t HashText(std::string_view text) {
    // FNV-1a: short texts, no need for anything stronger (matches are verified byte for byte)
    std::uint64_t hash = 0xcbf29ce484222325ull;
    for (char c : text) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001b3ull;
    }
    return hash;
}

DeviceScanEntry DeviceScanCache::Describe(XmlNode* node) {
    XmlNodeRef ref(node);
    DeviceScanEntry entry{node, 0, 0, 0, 0, 0, 0};
    XmlAttributeRef name = ref.FindAttribute("name");
    XmlAttributeRef host = ref.FindAttribute("host");
    XmlAttributeRef port = ref.FindAttribute("port");
    XmlAttributeRef ddnsHost = ref.FindAttribute("DDNSHost");
    XmlAttributeRef ddnsPort = ref.FindAttribute("DDNSPort");
    entry.present = static_cast<std::uint8_t>(
        (name.IsValid() ? kScanName : 0) | (host.IsValid() ? kScanHost : 0) | (port.IsValid() ? kScanPort : 0) |
        (ddnsHost.IsValid() ? kScanDdnsHost : 0) | (ddnsPort.IsValid() ? kScanDdnsPort : 0));
    entry.name = HashText(ValueOf(name));
    entry.host = HashText(ValueOf(host));
    entry.ddnsHost = HashText(ValueOf(ddnsHost));
    entry.port = port.ValueAsUnsigned();
    entry.ddnsPort = ddnsPort.ValueAsUnsigned();
    return entry;
}

void DeviceScanCache::Build(XmlNode* section) {
    entries_.clear();
    entries_.reserve(section->childCount + 64);
    for (std::uint32_t i = 0; i < section->childCount; ++i) {
        entries_.push_back(Describe(section->children[i]));
    }
    section_ = section;
    valid_ = true;
}

void DeviceScanCache::BeforeRemoval(const XmlNode* parent, std::uint32_t index) {
    if (!valid_) {
        return;
    }
    const XmlNode* top = parent->children[index];
    for (const XmlNode* node = section_; node != nullptr; node = node->parent) {
        if (node == top) {
            Invalidate();
            return;
        }
        if (node->parent == node) {
            break;
        }
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

void DeviceScanCache::Append(XmlNode* section, XmlNode* child) {
    if (!valid_ || section != section_ || section->childCount != entries_.size() + 1 ||
        section->children[section->childCount - 1] != child) {
        Invalidate();
        return;
    }
    entries_.push_back(Describe(child));
}

}  // namespace vantrel
