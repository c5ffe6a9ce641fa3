#pragma once

// The elements of one section (the device or the organization section) by the number of their "id", so that
// finding a device or an organization by identifier does not walk the section. Built with one walk of that
// section's subtree and kept up to date as the store adds and removes elements.

#include <cstdint>
#include <unordered_map>
#include <utility>
#include <vector>

#include "xml/xml_node_ref.h"

namespace vantrel {

class IdIndex {
public:
    // Indexes every element named elementName below section (depth first, any depth).
    void Build(XmlNodeRef section, const char* elementName);
    void Clear();

    // First element named elementName in a depth-first walk below section whose "id" is the "%u" text of id;
    // empty when there is none. A section other than the indexed one is indexed first.
    XmlNodeRef Find(XmlNodeRef section, const char* elementName, std::uint32_t id);

    // A new element, appended by the store with its "id" already set.
    void Added(XmlNodeRef element);
    // Called before top is removed with everything below it.
    void BeforeRemoval(XmlNodeRef top);

private:
    void Forget(XmlNodeRef node);

    using Entry = std::pair<std::uint32_t, XmlNodeRef>;
    XmlNodeRef section_;
    const char* elementName_ = nullptr;
    // the elements found by the walk, sorted by id (stable, so equal ids keep document order), and those
    // added since
    std::vector<Entry> built_;
    std::unordered_multimap<std::uint32_t, XmlNodeRef> added_;
};

}  // namespace vantrel
