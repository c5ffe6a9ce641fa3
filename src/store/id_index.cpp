#include "id_index.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <optional>

#include "store/store_text.h"
#include "store_schema.h"

namespace vantrel {
namespace {

std::optional<std::uint32_t> CanonicalId(XmlNodeRef node) {
    XmlAttributeRef id = node.FindAttribute(schema::kId);
    if (!id.HasValue()) {
        return std::nullopt;
    }
    return CanonicalUnsigned(id.ValueView());
}

// Child indices from ancestor down to node; the order of these paths is document order.
std::vector<std::uint32_t> PathBelow(XmlNodeRef ancestor, XmlNodeRef node) {
    std::vector<std::uint32_t> path;
    for (; node != ancestor && node.Parent().IsValid(); node = node.Parent()) {
        path.push_back(node.IndexInParent());
    }
    std::reverse(path.begin(), path.end());
    return path;
}

bool ById(const std::pair<std::uint32_t, XmlNodeRef>& entry, std::uint32_t wanted) {
    return entry.first < wanted;
}

}  // namespace

void IdIndex::Clear() {
    section_ = XmlNodeRef();
    elementName_ = nullptr;
    built_.clear();
    added_.clear();
}

void IdIndex::Build(XmlNodeRef section, const char* elementName) {
    Clear();
    section_ = section;
    elementName_ = elementName;
    section.VisitDescendants([this, elementName](XmlNodeRef child) {
        if (child.NameIs(elementName)) {
            if (std::optional<std::uint32_t> id = CanonicalId(child)) {
                built_.emplace_back(*id, child);
            }
        }
        return true;
    });
    // a file written by this program lists most ids in ascending order already
    auto byEntry = [](const Entry& a, const Entry& b) { return a.first < b.first; };
    if (!std::is_sorted(built_.begin(), built_.end(), byEntry)) {
        std::stable_sort(built_.begin(), built_.end(), byEntry);
    }
}

XmlNodeRef IdIndex::Find(XmlNodeRef section, const char* elementName, std::uint32_t id) {
    if (!section.IsValid()) {
        return XmlNodeRef();
    }
    if (section != section_ || elementName_ == nullptr || std::strcmp(elementName, elementName_) != 0) {
        Build(section, elementName);
    }
    std::vector<XmlNodeRef> candidates;
    for (auto it = std::lower_bound(built_.begin(), built_.end(), id, ById); it != built_.end() && it->first == id;
         ++it) {
        if (it->second.IsValid()) {
            candidates.push_back(it->second);
        }
    }
    auto added = added_.equal_range(id);
    for (auto it = added.first; it != added.second; ++it) {
        candidates.push_back(it->second);
    }
    XmlNodeRef best;
    std::vector<std::uint32_t> bestPath;
    for (XmlNodeRef candidate : candidates) {
        if (!best.IsValid()) {
            best = candidate;
            continue;
        }
        // the same identifier twice (a file written by other means): the first in document order wins
        if (bestPath.empty()) {
            bestPath = PathBelow(section, best);
        }
        std::vector<std::uint32_t> path = PathBelow(section, candidate);
        if (path < bestPath) {
            best = candidate;
            bestPath = std::move(path);
        }
    }
    return best;
}

void IdIndex::Added(XmlNodeRef element) {
    if (elementName_ == nullptr || !element.NameIs(elementName_) || !element.IsBelow(section_)) {
        return;
    }
    if (std::optional<std::uint32_t> id = CanonicalId(element)) {
        added_.emplace(*id, element);
    }
}

void IdIndex::Forget(XmlNodeRef node) {
    if (!node.NameIs(elementName_)) {
        return;
    }
    std::optional<std::uint32_t> id = CanonicalId(node);
    if (!id) {
        return;
    }
    for (auto it = std::lower_bound(built_.begin(), built_.end(), *id, ById); it != built_.end() && it->first == *id;
         ++it) {
        if (it->second == node) {
            it->second = XmlNodeRef();
        }
    }
    auto added = added_.equal_range(*id);
    for (auto it = added.first; it != added.second;) {
        it = it->second == node ? added_.erase(it) : std::next(it);
    }
}

void IdIndex::BeforeRemoval(XmlNodeRef top) {
    if (elementName_ == nullptr) {
        return;
    }
    if (top == section_ || section_.IsBelow(top)) {
        Clear();
        return;
    }
    if (!top.IsBelow(section_)) {
        return;
    }
    Forget(top);
    top.VisitDescendants([this](XmlNodeRef child) {
        Forget(child);
        return true;
    });
}

}  // namespace vantrel
