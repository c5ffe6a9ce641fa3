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

namespace {

constexpr std::size_t kFieldCount = 5;

void CountHash(std::unordered_map<std::uint64_t, std::uint32_t>& counts, std::uint64_t hash, int step) {
    if (step > 0) {
        ++counts[hash];
        return;
    }
    auto found = counts.find(hash);
    if (found != counts.end() && --found->second == 0) {
        counts.erase(found);
    }
}

}  // namespace

void DeviceScanCache::Count(const DeviceScanEntry& entry, int step) {
    CountHash(names_, entry.name, step);
    CountHash(hosts_, entry.host, step);
    for (std::size_t bit = 0; bit < kFieldCount; ++bit) {
        if ((entry.present & (1u << bit)) == 0) {
            lacking_[bit] += static_cast<std::uint32_t>(step);
        }
    }
}

void DeviceScanCache::Invalidate() {
    valid_ = false;
    entries_.clear();
    names_.clear();
    hosts_.clear();
    lacking_.fill(0);
}

void DeviceScanCache::Touch(DeviceScanEntry& entry, DeviceScanField field, const char* attribute) {
    if ((entry.present & field) == 0) {
        entry.node.Attribute(attribute);
        entry.present |= field;
        for (std::size_t bit = 0; bit < kFieldCount; ++bit) {
            if (field == (1u << bit)) {
                --lacking_[bit];
            }
        }
    }
}

bool DeviceScanCache::WalkIsIdle(DeviceScanField field, std::uint64_t hash, std::uint8_t touched) const {
    const auto& counts = field == kScanName ? names_ : hosts_;
    if (counts.count(hash) != 0) {
        return false;
    }
    for (std::size_t bit = 0; bit < kFieldCount; ++bit) {
        if ((touched & (1u << bit)) != 0 && lacking_[bit] != 0) {
            return false;
        }
    }
    return true;
}

void DeviceScanCache::Build(XmlNodeRef section) {
    Invalidate();
    entries_.reserve(section.ChildCount() + 64);
    names_.reserve(section.ChildCount() + 64);
    hosts_.reserve(section.ChildCount() + 64);
    for (std::uint32_t i = 0; i < section.ChildCount(); ++i) {
        entries_.push_back(Describe(section.Child(i)));
        Count(entries_.back(), 1);
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
        Count(entries_[index], -1);
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
    try {
        entries_.push_back(Describe(child));
        Count(entries_.back(), 1);
    } catch (...) {
        Invalidate();  // half-counted entries would answer wrongly
        throw;
    }
}

}  // namespace vantrel
