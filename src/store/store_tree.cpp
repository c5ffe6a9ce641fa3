#include "store_tree.h"

#include <algorithm>
#include <charconv>
#include <optional>

#include "store/store_text.h"

namespace vantrel {
namespace {

constexpr const char* kSectionNames[] = {schema::kGlobal, schema::kDevInfo, schema::kOrgInfo, schema::kImgInfo,
                                         schema::kMapInfo};
constexpr std::uint32_t kLastId = 0xFFFFFFFFu;

int Slot(StoreSection section) {
    return static_cast<int>(section);
}

}  // namespace

void StoreTree::Reset(XmlNodeRef root) {
    root_ = root;
    for (XmlNodeRef& section : sections_) {
        section = XmlNodeRef();
    }
    devices_.Clear();
    organizations_.Clear();
    scan_.Invalidate();
    XmlNodeRef devices = ExistingSection(StoreSection::Devices);
    if (devices.IsValid()) {
        devices_.Build(devices, schema::kDev);
        scan_.Build(devices);
    }
    XmlNodeRef organizations = ExistingSection(StoreSection::Organizations);
    if (organizations.IsValid()) {
        organizations_.Build(organizations, schema::kOrg);
    }
}

XmlNodeRef StoreTree::Section(StoreSection section) {
    XmlNodeRef& cached = sections_[Slot(section)];
    if (!cached.IsValid()) {
        cached = EnsureSection(root_, kSectionNames[Slot(section)]);
    }
    return cached;
}

XmlNodeRef StoreTree::ExistingSection(StoreSection section) const {
    return root_.FindDescendant(schema::kDataRoot).FindDescendant(kSectionNames[Slot(section)]);
}

XmlNodeRef StoreTree::Global() {
    XmlNodeRef global = Section(StoreSection::Global);
    return global.NameIs(schema::kGlobal) ? global : XmlNodeRef();
}

std::uint32_t StoreTree::LargestIdInDocument() const {
    std::uint32_t largest = 0;
    root_.VisitDescendants([&largest](XmlNodeRef child) {
        if (child.Kind() == XmlNodeKind::Element) {
            XmlAttributeRef id = child.FindAttribute(schema::kId);
            if (std::optional<std::uint32_t> number =
                    id.HasValue() ? CanonicalUnsigned(id.ValueView()) : std::nullopt) {
                largest = std::max(largest, *number);
            }
        }
        return true;
    });
    return largest;
}

std::uint32_t StoreTree::NextId(XmlNodeRef global) {
    XmlAttributeRef index = global.FindAttribute(schema::kIndex);
    std::uint32_t next = index.ValueAsUnsigned();
    if (next != 0) {
        return next == kLastId ? 0 : next;
    }
    // no usable counter: continue after the identifiers already given, so none is given twice
    std::uint32_t largest = LargestIdInDocument();
    return largest >= kLastId - 1 ? 0 : largest + 1;
}

bool StoreTree::IdentifiersUsedUp() {
    XmlNodeRef global = Global();
    return global.IsValid() && NextId(global) == 0;
}

bool StoreTree::CanGiveIdentifiers(std::uint32_t count) {
    XmlNodeRef global = Global();
    std::uint32_t next = global.IsValid() ? NextId(global) : 0;
    // the last one given leaves the counter at next + count, which must not wrap
    return next != 0 && std::uint64_t{next} + count <= kLastId;
}

namespace {

// The decimal text of a number, for an attribute made with its value.
struct DecimalText {
    explicit DecimalText(std::uint32_t number) { *std::to_chars(text, text + sizeof text - 1, number).ptr = '\0'; }
    char text[16];
};

}  // namespace

XmlNodeRef StoreTree::NewElement(XmlNodeRef parent, const char* name) {
    XmlNodeRef global = Global();
    if (!global.IsValid() || !parent.IsValid()) {
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
    global.Attribute(schema::kIndex).SetUnsigned(id + 1);
    // a new element: its attributes are appended, none looked for
    element.AddAttribute(schema::kId, DecimalText(id).text);
    devices_.Added(element);
    organizations_.Added(element);
    return element;
}

XmlNodeRef StoreTree::FindById(StoreSection section, std::uint32_t id) {
    if (section == StoreSection::Devices) {
        return devices_.Find(Section(section), schema::kDev, id);
    }
    return organizations_.Find(Section(section), schema::kOrg, id);
}

XmlNodeRef StoreTree::FindEntry(XmlNodeRef device, schema::EntryType type, std::uint32_t channel) {
    auto wantedType = static_cast<std::uint32_t>(type);
    std::uint32_t count = device.ChildCount();
    for (std::uint32_t i = 0; i < count; ++i) {
        XmlNodeRef child = device.Child(i);
        std::uint32_t childType = child.Attribute(schema::kType).ValueAsUnsigned();
        std::uint32_t childChannel = child.Attribute(schema::kChannel).ValueAsUnsigned();
        if ((childType & 0xFFFF) == (wantedType & 0xFFFF) && (childChannel & 0xFF) == (channel & 0xFF)) {
            return child;
        }
    }
    return XmlNodeRef();
}

XmlNodeRef StoreTree::CreateEntry(XmlNodeRef device, schema::EntryType type, std::uint32_t channel,
                                  const std::string& name) {
    if (FindEntry(device, type, channel).IsValid()) {
        return XmlNodeRef();
    }
    return AppendEntry(device, type, channel, name);
}

XmlNodeRef StoreTree::AppendEntry(XmlNodeRef device, schema::EntryType type, std::uint32_t channel,
                                  const std::string& name) {
    XmlNodeRef entry = NewElement(device, schema::kDev);
    if (!entry.IsValid()) {
        return XmlNodeRef();
    }
    // a new element with its id alone: the others are appended, as 16-bit type and 8-bit channel
    entry.AddAttribute(schema::kType, DecimalText(static_cast<std::uint32_t>(type) & 0xFFFFu).text);
    entry.AddAttribute(schema::kName, name.c_str());
    entry.AddAttribute(schema::kChannel, DecimalText(channel & 0xFFu).text);
    entry.AddAttribute(schema::kDesc, "");
    return entry;
}

void StoreTree::RemoveSubtree(XmlNodeRef parent, std::uint32_t index) {
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
    devices_.BeforeRemoval(top);
    organizations_.BeforeRemoval(top);
    parent.RemoveChild(index);
}

bool StoreTree::RemoveFirstByAttribute(XmlNodeRef start, const char* elementName, const char* attribute,
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

void StoreTree::RemoveAllWithId(XmlNodeRef start, const std::string& idText) {
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
        if (child.Attribute(schema::kId).Value() == idText) {
            RemoveSubtree(parent, index);  // the next child moves into this index
            continue;
        }
        ++frame.next;
        if (child.ChildCount() > 0) {
            stack.push_back(Frame{child, 0});
        }
    }
}

DeviceScanCache& StoreTree::DeviceScan(XmlNodeRef devices) {
    if (!scan_.IsValidFor(devices)) {
        scan_.Build(devices);
    }
    return scan_;
}

}  // namespace vantrel
