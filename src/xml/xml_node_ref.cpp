#include "xml/xml_node_ref.h"

#include <charconv>
#include <cstring>

#include "xml_arena.h"
#include "xml_node.h"
#include "xml_records.h"
#include "xml_tree_ops.h"
#include "xml_walk_stack.h"

namespace vantrel {

namespace {

constexpr std::size_t kNameCompareLimit = 255;
constexpr std::size_t kNumberTextLimit = 255;

// Replaces a node's owned-or-borrowed span by an owned copy of text (which may point into the old bytes).
bool ReplaceSpan(XmlNode* node, bool isName, const char* text) {
    XmlMarkEdited(node);
    std::size_t length = std::strlen(text);
    return length <= 0x7FFFFFFFu && XmlSetNodeCopy(node, isName, text, length);
}

bool IsSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

}  // namespace

XmlAttribute* XmlAttributeRef::Record() const {
    return node_ != nullptr ? &node_->attributes[index_] : nullptr;
}

std::string_view XmlAttributeRef::NameView() const {
    const XmlAttribute* record = Record();
    const char* name = record != nullptr ? XmlAttributeName(node_, *record) : nullptr;
    return name != nullptr ? std::string_view(name, XmlAttributeNameLength(*record, name)) : std::string_view();
}

std::string_view XmlAttributeRef::ValueView() const {
    const XmlAttribute* record = Record();
    const char* value = record != nullptr ? XmlAttributeValue(node_, *record) : nullptr;
    return value != nullptr ? std::string_view(value, record->valueLength) : std::string_view();
}

bool XmlAttributeRef::HasValue() const {
    const XmlAttribute* record = Record();
    return record != nullptr && XmlAttributeValue(node_, *record) != nullptr;
}

bool XmlAttributeRef::ValueIs(std::string_view text) const {
    return IsValid() && ValueView() == text;
}

std::uint32_t XmlAttributeRef::ValueAsUnsigned() const {
    const XmlAttribute* record = Record();
    const char* p = record != nullptr ? XmlAttributeValue(node_, *record) : nullptr;
    if (p == nullptr)
        return 0;
    std::size_t length = record->valueLength < kNumberTextLimit ? record->valueLength : kNumberTextLimit;
    const char* end = p + length;
    // a stored value may hold a NUL only as an owned copy's terminator; stop there like the C library
    const void* nul = std::memchr(p, '\0', length);
    if (nul != nullptr)
        end = static_cast<const char*>(nul);
    while (p < end && IsSpace(*p)) ++p;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) {
        negative = *p == '-';
        ++p;
    }
    std::uint64_t number = 0;
    bool overflow = false;
    bool anyDigit = false;
    for (; p < end && *p >= '0' && *p <= '9'; ++p) {
        anyDigit = true;
        number = number * 10 + static_cast<unsigned>(*p - '0');
        if (number > 0xFFFFFFFFu) {
            overflow = true;
            number = 0xFFFFFFFFu;
        }
    }
    if (!anyDigit)
        return 0;
    if (overflow)
        return 0xFFFFFFFFu;
    auto result = static_cast<std::uint32_t>(number);
    return negative ? 0u - result : result;
}

bool XmlAttributeRef::SetValue(const char* text) const {
    XmlAttribute* record = Record();
    if (record == nullptr || node_->arena == nullptr || text == nullptr)
        return false;
    XmlMarkEdited(node_);
    return XmlSetAttributeCopy(node_->arena, *record, false, text, std::strlen(text));
}

XmlAttributeRef XmlAttributeRef::SetUnsigned(std::uint32_t number) const {
    char buffer[16];
    *std::to_chars(buffer, buffer + sizeof buffer - 1, number).ptr = '\0';
    SetValue(buffer);
    return *this;
}

XmlAttributeRef XmlAttributeRef::SetUnsigned16(std::uint32_t number) const {
    return SetUnsigned(number & 0xFFFFu);
}

XmlAttributeRef XmlAttributeRef::SetUnsigned8(std::uint32_t number) const {
    return SetUnsigned(number & 0xFFu);
}

XmlNodeRef::XmlNodeRef(XmlNode* node) : node_(node != nullptr && node->kind != XmlNodeKind::None ? node : nullptr) {}

XmlNodeKind XmlNodeRef::Kind() const {
    return node_ != nullptr ? node_->kind : XmlNodeKind::None;
}

std::string_view XmlNodeRef::NameView() const {
    const char* name = node_ != nullptr ? XmlNodeName(node_) : nullptr;
    if (name == nullptr)
        return std::string_view();
    return std::string_view(name, node_->nameLength);
}

std::string_view XmlNodeRef::ValueView() const {
    const char* value = node_ != nullptr ? XmlNodeValue(node_) : nullptr;
    if (value == nullptr)
        return std::string_view();
    return std::string_view(value, node_->valueLength);
}

bool XmlNodeRef::HasValue() const {
    return node_ != nullptr && node_->valueAt != kXmlNoSpan;
}

XmlNodeRef XmlNodeRef::Parent() const {
    if (node_ == nullptr || node_->parent == node_)
        return XmlNodeRef();
    return XmlNodeRef(node_->parent);
}

std::uint32_t XmlNodeRef::IndexInParent() const {
    if (node_ == nullptr || node_->parent == node_ || node_->parent == nullptr)
        return kXmlNoIndex;
    const XmlNode* parent = node_->parent;
    for (std::uint32_t i = 0; i < parent->childCount; ++i) {
        if (parent->children[i] == node_)
            return i;
    }
    return kXmlNoIndex;
}

bool XmlNodeRef::IsBelow(XmlNodeRef ancestor) const {
    if (node_ == nullptr || ancestor.node_ == nullptr)
        return false;
    for (const XmlNode* node = node_; node->parent != nullptr && node->parent != node;) {
        node = node->parent;
        if (node == ancestor.node_)
            return true;
    }
    return false;
}

std::uint32_t XmlNodeRef::ChildCount() const {
    return node_ != nullptr ? node_->childCount : 0;
}

XmlNodeRef XmlNodeRef::Child(std::uint32_t index) const {
    if (node_ == nullptr || index >= node_->childCount)
        return XmlNodeRef();
    return XmlNodeRef(node_->children[index]);
}

std::uint32_t XmlNodeRef::AttributeCount() const {
    return node_ != nullptr ? node_->attributeCount : 0;
}

XmlAttributeRef XmlNodeRef::AttributeAt(std::uint32_t index) const {
    if (node_ == nullptr || index >= node_->attributeCount)
        return XmlAttributeRef();
    return XmlAttributeRef(node_, index);
}

void XmlNodeRef::VisitDescendantsThrough(bool (*call)(void*, XmlNodeRef), void* context) const {
    if (node_ == nullptr)
        return;
    XmlVisitDescendants(node_, [&](XmlNode* child) {
        XmlNodeRef handle(child);
        return !handle.IsValid() || call(context, handle);
    });
}

XmlNodeRef XmlNodeRef::AppendChild(XmlNodeKind kind) const {
    if (node_ == nullptr || node_->arena == nullptr || kind == XmlNodeKind::None)
        return XmlNodeRef();
    bool isRoot = node_->kind == XmlNodeKind::Document && node_->parent == node_;
    if (!isRoot && node_->kind != XmlNodeKind::Element)
        return XmlNodeRef();
    XmlNode* child = XmlNewNodeIn(node_->arena, kind, true);
    if (child == nullptr)
        return XmlNodeRef();
    XmlMarkEdited(node_);
    child->edited = 1;  // made here, not parsed
    child->parent = node_;
    if (!XmlAppendChildSlot(node_, child, 1)) {
        child->parent = child;
        XmlDestroyTree(child);
        return XmlNodeRef();
    }
    // Null spans, but owned: a later SetName has nothing borrowed to keep.
    child->nameBorrowed = 0;
    child->valueBorrowed = 0;
    return XmlNodeRef(child);
}

void XmlNodeRef::RemoveChild(std::uint32_t index) const {
    if (!IsValid())
        return;
    XmlMarkEdited(node_);
    XmlDetachAndDestroyChild(node_, index);
}

XmlNodeRef XmlNodeRef::FindDescendant(const char* name) const {
    if (!IsValid() || name == nullptr || node_->childCount == 0)
        return XmlNodeRef();
    std::size_t nameLength = std::strlen(name);
    XmlNode* found = nullptr;
    XmlVisitDescendants(node_, [&](XmlNode* child) {
        const char* childName = child->nameLength == nameLength ? XmlNodeName(child) : nullptr;
        if (childName != nullptr && std::memcmp(childName, name, nameLength) == 0) {
            found = child;
            return false;
        }
        return true;
    });
    return XmlNodeRef(found);
}

XmlNodeRef XmlNodeRef::FindChildByName(const char* text) const {
    if (!IsValid() || text == nullptr)
        return XmlNodeRef();
    std::uint32_t count = node_->childCount;
    for (std::uint32_t i = 0; i < count && i < node_->childCount; ++i) {
        XmlNodeRef child = Child(i);
        if (child.Attribute("name").ValueIs(text))
            return child;
    }
    return XmlNodeRef();
}

bool XmlNodeRef::NameIs(const char* text) const {
    if (!IsValid() || text == nullptr)
        return false;
    const char* name = XmlNodeName(node_);
    std::size_t length = name != nullptr ? node_->nameLength : 0;
    if (length > kNameCompareLimit)
        length = kNameCompareLimit;
    return std::strlen(text) == length && (length == 0 || std::memcmp(name, text, length) == 0);
}

bool XmlNodeRef::SetName(const char* text) const {
    if (!IsValid() || node_->arena == nullptr || text == nullptr)
        return false;
    return ReplaceSpan(node_, true, text);
}

bool XmlNodeRef::SetValue(const char* text) const {
    if (!IsValid() || node_->arena == nullptr || text == nullptr)
        return false;
    return ReplaceSpan(node_, false, text);
}

XmlAttributeRef XmlNodeRef::FindAttribute(const char* name) const {
    if (!IsValid() || name == nullptr)
        return XmlAttributeRef();
    std::size_t length = std::strlen(name);
    for (std::uint32_t i = 0; i < node_->attributeCount; ++i) {
        const XmlAttribute& attribute = node_->attributes[i];
        const char* candidate = XmlAttributeName(node_, attribute);
        if (candidate != nullptr && std::strncmp(candidate, name, length) == 0 &&
            XmlAttributeNameLength(attribute, candidate) == length) {
            return XmlAttributeRef(node_, i);
        }
    }
    return XmlAttributeRef();
}

XmlAttributeRef XmlNodeRef::Attribute(const char* name) const {
    if (!IsValid() || name == nullptr)
        return XmlAttributeRef();
    XmlAttributeRef found = FindAttribute(name);
    if (found.IsValid())
        return found;
    return AddAttribute(name, "");
}

XmlAttributeRef XmlNodeRef::AddAttribute(const char* name, const char* value) const {
    if (!IsValid() || node_->arena == nullptr || name == nullptr || value == nullptr)
        return XmlAttributeRef();
    XmlArena* arena = node_->arena;
    XmlAttribute copies;
    if (!XmlSetAttributeCopy(arena, copies, true, name, std::strlen(name)) ||
        !XmlSetAttributeCopy(arena, copies, false, value, std::strlen(value))) {
        XmlReleaseAttributeCopies(arena, copies);
        return XmlAttributeRef();
    }
    XmlMarkEdited(node_);
    XmlAttribute* attribute = XmlAppendAttribute(node_, 1);
    if (attribute == nullptr) {
        XmlReleaseAttributeCopies(arena, copies);
        return XmlAttributeRef();
    }
    *attribute = copies;
    return XmlAttributeRef(node_, node_->attributeCount - 1);
}

XmlNodeRef EnsureSection(XmlNodeRef node, const char* sectionName) {
    if (!node.IsValid() || sectionName == nullptr)
        return XmlNodeRef();
    XmlNode* top = XmlRecords::NodeOf(node);
    while (top->parent != nullptr && top->parent != top) top = top->parent;
    if (top->parent != top || top->kind != XmlNodeKind::Document)
        return XmlNodeRef();
    XmlNodeRef document = XmlRecords::RefOf(top);
    XmlNodeRef dataRoot = document.FindDescendant("DATAROOT");
    if (!dataRoot.IsValid()) {
        dataRoot = document.AppendChild(XmlNodeKind::Element);
        if (!dataRoot.SetName("DATAROOT"))
            return XmlNodeRef();
    }
    XmlNodeRef section = dataRoot.FindDescendant(sectionName);
    if (!section.IsValid()) {
        section = dataRoot.AppendChild(XmlNodeKind::Element);
        if (!section.SetName(sectionName))
            return XmlNodeRef();
    }
    return section;
}

}  // namespace vantrel
