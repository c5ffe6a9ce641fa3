#include "store/xml_device_store.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iterator>
#include <optional>

#include "files/atomic_file.h"
#include "files/file_lock.h"
#include "files/file_paths.h"
#include "password/password.h"
#include "store/attribute_copy.h"
#include "store/store_text.h"

namespace vantrel {
namespace {

constexpr const char* kSectionNames[] = {"GLOBAL", "DEVINFO", "ORGINFO", "IMGINFO", "MAPINFO"};

std::optional<std::uint32_t> CanonicalId(XmlNodeRef node) {
    XmlAttributeRef id = node.FindAttribute("id");
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

}  // namespace

XmlDeviceStore::XmlDeviceStore(const std::string& databasePath, XmlStoreOptions options)
    : path_(databasePath), key_(KeyFile::ForDatabase(databasePath)), options_(std::move(options)) {
    // A DOCTYPE's internal subset must not end the parse: everything after it would be lost at the next save.
    document_.SetParseOptions(XmlParseOptions::AllOptions & ~std::uint32_t{XmlParseOptions::StopAfterInternalSubset});
    if (!path_.empty()) {
        lockPath_ = FolderOf(path_) + "." + FileNameOf(path_) + ".lock";
    }
    condition_.path = path_;
    condition_.keyPath = key_.Path();
    if (path_.empty()) {
        document_.Reset();
        return;
    }
    FileLock lock;
    if (lock.Acquire(lockPath_, options_.lockTimeout).Held()) {
        // every writer holds the lock while its temporary files exist, so those found now are left over
        RemoveStaleTempFiles(path_);
        RemoveStaleTempFiles(key_.Path());
    }
    LoadDatabase();
}

XmlDeviceStore::~XmlDeviceStore() = default;

XmlNodeRef XmlDeviceStore::Section(SectionIndex section) {
    if (!sections_[section].IsValid()) {
        sections_[section] = EnsureSection(document_.Root(), kSectionNames[section]);
    }
    return sections_[section];
}

XmlNodeRef XmlDeviceStore::Global() {
    XmlNodeRef global = Section(kGlobal);
    return global.NameIs("GLOBAL") ? global : XmlNodeRef();
}

void XmlDeviceStore::RemoveSubtree(XmlNodeRef parent, std::uint32_t index) {
    if (index >= parent.ChildCount()) {
        return;
    }
    XmlNodeRef top = parent.Child(index);
    for (XmlNodeRef& section : sections_) {
        if (section.IsValid() && (section == top || section.IsBelow(top))) {
            section = XmlNodeRef();
        }
    }
    scan_.BeforeRemoval(parent, index);
    if (idIndexBuilt_) {
        auto forget = [this](XmlNodeRef node) {
            if (!node.NameIs("DEV") && !node.NameIs("ORG")) {
                return;
            }
            std::optional<std::uint32_t> id = CanonicalId(node);
            if (!id) {
                return;
            }
            auto byId = [](const std::pair<std::uint32_t, XmlNodeRef>& entry, std::uint32_t wanted) {
                return entry.first < wanted;
            };
            for (auto it = std::lower_bound(idIndex_.begin(), idIndex_.end(), *id, byId);
                 it != idIndex_.end() && it->first == *id; ++it) {
                if (it->second == node) {
                    it->second = XmlNodeRef();
                }
            }
            auto added = idAdded_.equal_range(*id);
            for (auto it = added.first; it != added.second;) {
                it = it->second == node ? idAdded_.erase(it) : std::next(it);
            }
        };
        forget(top);
        top.VisitDescendants([&](XmlNodeRef child) {
            forget(child);
            return true;
        });
    }
    parent.RemoveChild(index);
}

std::uint32_t XmlDeviceStore::LargestIdInDocument() const {
    std::uint32_t largest = 0;
    document_.Root().VisitDescendants([&largest](XmlNodeRef child) {
        if (child.Kind() == XmlNodeKind::Element) {
            if (std::optional<std::uint32_t> id = CanonicalId(child)) {
                largest = std::max(largest, *id);
            }
        }
        return true;
    });
    return largest;
}

std::uint32_t XmlDeviceStore::NextId(XmlNodeRef global) {
    std::uint32_t index = global.Attribute("index").ValueAsUnsigned();
    if (index != 0) {
        return index;
    }
    // no usable counter: continue after the identifiers already given, so none is given twice
    std::uint32_t largest = LargestIdInDocument();
    return largest == 0xFFFFFFFFu ? 0 : largest + 1;
}

XmlNodeRef XmlDeviceStore::NewElement(XmlNodeRef parent, const char* name, XmlNodeRef global) {
    if (!global.IsValid()) {
        return XmlNodeRef();
    }
    std::uint32_t id = NextId(global);
    if (id == 0) {
        return XmlNodeRef();
    }
    XmlNodeRef element = parent.AppendChild(XmlNodeKind::Element);
    if (!element.SetName(name)) {
        return XmlNodeRef();
    }
    global.Attribute("index").SetUnsigned(id + 1);
    element.Attribute("id").SetUnsigned(id);
    if (idIndexBuilt_ && (std::strcmp(name, "DEV") == 0 || std::strcmp(name, "ORG") == 0)) {
        idAdded_.emplace(id, element);
    }
    return element;
}

void XmlDeviceStore::BuildIdIndex() {
    idIndex_.clear();
    idAdded_.clear();
    idIndexBuilt_ = true;
    document_.Root().VisitDescendants([this](XmlNodeRef child) {
        if (child.NameIs("DEV") || child.NameIs("ORG")) {
            if (std::optional<std::uint32_t> id = CanonicalId(child)) {
                idIndex_.emplace_back(*id, child);
            }
        }
        return true;
    });
    // a file written by this program lists its ids in ascending order already
    auto byId = [](const std::pair<std::uint32_t, XmlNodeRef>& a, const std::pair<std::uint32_t, XmlNodeRef>& b) {
        return a.first < b.first;
    };
    if (!std::is_sorted(idIndex_.begin(), idIndex_.end(), byId)) {
        std::stable_sort(idIndex_.begin(), idIndex_.end(), byId);
    }
}

XmlNodeRef XmlDeviceStore::FindById(XmlNodeRef section, const char* name, std::uint32_t id) {
    if (!section.IsValid()) {
        return XmlNodeRef();
    }
    if (!idIndexBuilt_) {
        BuildIdIndex();
    }
    std::vector<XmlNodeRef> candidates;
    auto byId = [](const std::pair<std::uint32_t, XmlNodeRef>& entry, std::uint32_t wanted) {
        return entry.first < wanted;
    };
    for (auto it = std::lower_bound(idIndex_.begin(), idIndex_.end(), id, byId);
         it != idIndex_.end() && it->first == id; ++it) {
        candidates.push_back(it->second);
    }
    auto added = idAdded_.equal_range(id);
    for (auto it = added.first; it != added.second; ++it) {
        candidates.push_back(it->second);
    }
    XmlNodeRef best;
    std::vector<std::uint32_t> bestPath;
    for (XmlNodeRef candidate : candidates) {
        if (!candidate.NameIs(name) || !candidate.IsBelow(section)) {
            continue;
        }
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

XmlNodeRef XmlDeviceStore::FindEntry(XmlNodeRef device, std::uint32_t type, std::uint32_t channel) {
    std::uint32_t count = device.ChildCount();
    for (std::uint32_t i = 0; i < count; ++i) {
        XmlNodeRef child = device.Child(i);
        std::uint32_t childType = child.Attribute("type").ValueAsUnsigned();
        std::uint32_t childChannel = child.Attribute("channel").ValueAsUnsigned();
        if ((childType & 0xFFFF) == (type & 0xFFFF) && (childChannel & 0xFF) == (channel & 0xFF)) {
            return child;
        }
    }
    return XmlNodeRef();
}

XmlNodeRef XmlDeviceStore::CreateEntry(XmlNodeRef device, std::uint32_t type, std::uint32_t channel,
                                       const std::string& name, XmlNodeRef global) {
    if (FindEntry(device, type, channel).IsValid()) {
        return XmlNodeRef();
    }
    XmlNodeRef entry = NewElement(device, "DEV", global);
    if (!entry.IsValid()) {
        return XmlNodeRef();
    }
    entry.Attribute("type").SetUnsigned16(type);
    entry.Attribute("name").SetValue(name.c_str());
    entry.Attribute("channel").SetUnsigned8(channel);
    return entry;
}

bool XmlDeviceStore::RemoveFirstByAttribute(XmlNodeRef start, const char* elementName, const char* attribute,
                                            const std::string& value, std::uint32_t depthLimit, bool protectParents) {
    if (!start.IsValid() || attribute == nullptr) {
        return false;
    }
    struct Frame {
        XmlNodeRef node;
        std::uint32_t next;
        std::uint32_t depthLeft;
    };
    std::vector<Frame> stack{{start, 0, depthLimit}};
    while (!stack.empty()) {
        Frame& frame = stack.back();
        if (frame.next >= frame.node.ChildCount()) {
            stack.pop_back();
            continue;
        }
        std::uint32_t index = frame.next++;
        XmlNodeRef parent = frame.node;
        XmlNodeRef child = parent.Child(index);
        bool nameMatches = elementName == nullptr || child.NameIs(elementName);
        if (nameMatches && child.Attribute(attribute).Value() == value) {
            if (protectParents && child.ChildCount() > 0) {
                // a protected match ends the walk of its own level only; the level above goes on
                stack.pop_back();
                continue;
            }
            RemoveSubtree(parent, index);
            return true;
        }
        if (frame.depthLeft != 0 && child.ChildCount() > 0) {
            std::uint32_t depthLeft = frame.depthLeft - 1;
            stack.push_back(Frame{child, 0, depthLeft});
        }
    }
    return false;
}

void XmlDeviceStore::RemoveAllWithId(XmlNodeRef start, const std::string& idText) {
    // one walk: what repeated first-match removals would take, the top-most matches with their subtrees
    if (!start.IsValid()) {
        return;
    }
    struct Frame {
        XmlNodeRef node;
        std::uint32_t next;
    };
    std::vector<Frame> stack{{start, 0}};
    while (!stack.empty()) {
        Frame& frame = stack.back();
        if (frame.next >= frame.node.ChildCount()) {
            stack.pop_back();
            continue;
        }
        XmlNodeRef parent = frame.node;
        std::uint32_t index = frame.next;
        XmlNodeRef child = parent.Child(index);
        if (child.Attribute("id").Value() == idText) {
            RemoveSubtree(parent, index);  // the next child moves into this index
            continue;
        }
        ++frame.next;
        if (child.ChildCount() > 0) {
            stack.push_back(Frame{child, 0});
        }
    }
}

XmlNodeRef XmlDeviceStore::ExistingSection(const char* name) const {
    return document_.Root().FindDescendant("DATAROOT").FindDescendant(name);
}

bool XmlDeviceStore::Encrypt(const char* plain, char* cipher) {
    if (key_.Path().empty()) {
        return false;
    }
    struct stat info {};
    if (lstat(key_.Path().c_str(), &info) == 0 || errno != ENOENT) {
        return EncipherWithKey(plain, cipher);
    }
    // the key file is missing: a new key would leave the enciphered passwords unreadable for good
    if (condition_.encipheredPasswords > 0 && !condition_.newKeyAgreed) {
        condition_.keyMissing = true;
        return false;
    }
    // the key is made under the lock, so that no one takes its temporary file for a leftover
    FileLock lock;
    LockResult locked = lock.Acquire(lockPath_, options_.lockTimeout);
    if (!locked.Held()) {
        condition_.keyProblem = "the key file " + key_.Path() + " cannot be made: " + locked.problem;
        return false;
    }
    return EncipherWithKey(plain, cipher);
}

bool XmlDeviceStore::EncipherWithKey(const char* plain, char* cipher) {
    if (EncryptStringEX(plain, cipher, 1, key_) == 1) {
        condition_.keyProblem.clear();
        return true;
    }
    if (!key_.State().Ready()) {
        condition_.keyProblem = key_.State().problem;
    }
    return false;
}

int XmlDeviceStore::PlaceholderA(std::uint32_t, std::uint32_t, std::uint32_t) {
    return 1;
}

int XmlDeviceStore::PlaceholderB(std::uint32_t, std::uint32_t, std::uint32_t) {
    return 1;
}

}  // namespace vantrel
