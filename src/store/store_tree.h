#pragma once

// The database's view of its document: the sections below DATAROOT, new elements with identifiers from the
// document's one counter, look-ups by identifier and channel, and removals that keep every cached handle valid.

#include <cstdint>
#include <string>
#include <vector>

#include "device_scan_cache.h"
#include "id_index.h"
#include "store_schema.h"
#include "xml/xml_node_ref.h"

namespace vantrel {

// The element's "id" as a number (reading creates it, empty, when missing).
inline std::uint32_t IdOf(XmlNodeRef element) {
    return element.Attribute(schema::kId).ValueAsUnsigned();
}

enum class StoreSection { Global, Devices, Organizations, Images, Map, Count };

class StoreTree {
public:
    // Works on the tree below root (a Document node). The caches are built now for the device and organization
    // sections that the document has, so that the first look-up does not walk the document.
    void Reset(XmlNodeRef root);

    // The section below DATAROOT, created when missing. The first element of a section's name in the walk
    // only changes when something is removed (new elements never take a section's name), so the answer is
    // kept until then.
    XmlNodeRef Section(StoreSection section);
    // The section if the document has it; creates nothing.
    XmlNodeRef ExistingSection(StoreSection section) const;
    // The GLOBAL section when it is an element of that name; empty otherwise.
    XmlNodeRef Global();

    // Appends a new element named name with a fresh identifier as its first attribute; empty when GLOBAL is
    // unusable or the counter cannot give another identifier (see IdentifiersUsedUp).
    XmlNodeRef NewElement(XmlNodeRef parent, const char* name);
    // True when the counter cannot give a new identifier: "index" is 4294967295, which could only move on by
    // wrapping to 0, after which identifiers would be given twice.
    bool IdentifiersUsedUp();
    // True when the counter can give count more identifiers.
    bool CanGiveIdentifiers(std::uint32_t count);

    // First element named DEV (device section) or ORG (organization section) below section whose "id" is the
    // "%u" text of id; adds nothing.
    XmlNodeRef FindById(StoreSection section, std::uint32_t id);
    // The child of device with "type" type and "channel" channel (16 and 8-bit comparisons), or empty. Reads
    // create the compared attributes, empty, on the children examined.
    XmlNodeRef FindEntry(XmlNodeRef device, schema::EntryType type, std::uint32_t channel);
    // Creates that entry (type, name, channel, empty desc) unless it exists; empty when it exists or cannot be
    // created.
    XmlNodeRef CreateEntry(XmlNodeRef device, schema::EntryType type, std::uint32_t channel, const std::string& name);
    // Creates that entry without looking for it first; empty when it cannot be created.
    XmlNodeRef AppendEntry(XmlNodeRef device, schema::EntryType type, std::uint32_t channel, const std::string& name);

    // Removes the first element below start (preorder, at most depthLimit levels further down when not -1)
    // named elementName (any name when null) whose attribute equals value. With protectParents a match that
    // has children stops the walk of its level and nothing is removed there. True when something was removed.
    bool RemoveFirstByAttribute(XmlNodeRef start, const char* elementName, const char* attribute,
                                const std::string& value, std::uint32_t depthLimit, bool protectParents);
    // Removes every top-most element below start whose "id" is idText, with its subtree.
    void RemoveAllWithId(XmlNodeRef start, const std::string& idText);

    // The hashed name/address attributes of the device section's children, built when out of date.
    DeviceScanCache& DeviceScan(XmlNodeRef devices);
    // Tells the scan cache that attribute values of existing elements changed.
    void ValuesChanged() { scan_.Invalidate(); }
    // Tells the scan cache that devices gained a new last child.
    void DeviceAppended(XmlNodeRef devices, XmlNodeRef device) { scan_.Append(devices, device); }

private:
    // Every removal passes here, so that no cached section, scan entry or index entry points into the
    // removed subtree.
    void RemoveSubtree(XmlNodeRef parent, std::uint32_t index);
    std::uint32_t NextId(XmlNodeRef global);
    std::uint32_t LargestIdInDocument() const;

    XmlNodeRef root_;
    XmlNodeRef sections_[static_cast<int>(StoreSection::Count)];
    IdIndex devices_;
    IdIndex organizations_;
    DeviceScanCache scan_;
};

}  // namespace vantrel
