#include "xml/xml_node_ref.h"

#include <cstdio>
#include <cstring>

#include "xml/xml_arena.h"
#include "xml/xml_tree_ops.h"
#include "xml/xml_walk_stack.h"

namespace vantrel {

namespace {

constexpr std::size_t kNameCompareLimit = 255;
constexpr std::size_t kNumberTextLimit = 255;

// Replaces an owned-or-borrowed span by an owned copy of text (which may point into the old bytes).
template <typename Record>
bool ReplaceSpan(XmlArena* arena, char*& span, Record& record, bool isName, const char* text) {
    std::size_t length = std::strlen(text);
    if (length > 0x7FFFFFFFu)
        return false;
    char* copy = XmlCopyText(arena, text, length);
    if (isName) {
        if (!record.nameBorrowed)
            XmlReleaseText(arena, span, record.nameLength);
        record.nameLength = copy != nullptr ? static_cast<std::uint32_t>(length) : 0;
        record.nameBorrowed = copy != nullptr ? 0 : 1;
    } else {
        if (!record.valueBorrowed)
            XmlReleaseText(arena, span, record.valueLength);
        record.valueLength = copy != nullptr ? static_cast<std::uint32_t>(length) : 0;
        record.valueBorrowed = copy != nullptr ? 0 : 1;
    }
    span = copy;
    return copy != nullptr;
}

bool IsSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

}  // namespace

std::string XmlAttributeRef::Value() const {
    if (attribute_ == nullptr || attribute_->value == nullptr)
        return std::string();
    return std::string(attribute_->value, attribute_->valueLength);
}

std::string XmlAttributeRef::Name() const {
    if (attribute_ == nullptr || attribute_->name == nullptr)
        return std::string();
    return std::string(attribute_->name, attribute_->nameLength);
}

std::uint32_t XmlAttributeRef::ValueAsUnsigned() const {
    if (attribute_ == nullptr || attribute_->value == nullptr)
        return 0;
    std::size_t length = attribute_->valueLength < kNumberTextLimit ? attribute_->valueLength : kNumberTextLimit;
    const char* p = attribute_->value;
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
    if (attribute_ == nullptr || arena_ == nullptr || text == nullptr)
        return false;
    return ReplaceSpan(arena_, attribute_->value, *attribute_, false, text);
}

XmlAttributeRef XmlAttributeRef::SetUnsigned(std::uint32_t number) const {
    char buffer[32] = {};
    std::snprintf(buffer, sizeof(buffer), "%u", number);
    SetValue(buffer);
    return *this;
}

XmlAttributeRef XmlAttributeRef::SetUnsigned16(std::uint32_t number) const {
    return SetUnsigned(number & 0xFFFFu);
}

XmlAttributeRef XmlAttributeRef::SetUnsigned8(std::uint32_t number) const {
    return SetUnsigned(number & 0xFFu);
}

std::string XmlNodeRef::Name() const {
    if (!IsValid() || node_->name == nullptr)
        return std::string();
    return std::string(node_->name, node_->nameLength);
}

std::string XmlNodeRef::Value() const {
    if (!IsValid() || node_->value == nullptr)
        return std::string();
    return std::string(node_->value, node_->valueLength);
}

XmlNodeRef XmlNodeRef::Parent() const {
    if (!IsValid() || node_->parent == node_)
        return XmlNodeRef();
    return XmlNodeRef(node_->parent);
}

XmlNodeRef XmlNodeRef::Child(std::uint32_t index) const {
    if (!IsValid() || index >= node_->childCount)
        return XmlNodeRef();
    return XmlNodeRef(node_->children[index]);
}

XmlAttributeRef XmlNodeRef::AttributeAt(std::uint32_t index) const {
    if (!IsValid() || index >= node_->attributeCount)
        return XmlAttributeRef();
    return XmlAttributeRef(node_->attributes[index], node_->arena);
}

XmlNodeRef XmlNodeRef::AppendChild(XmlNodeKind kind) const {
    if (!IsValid() || node_->arena == nullptr)
        return XmlNodeRef();
    bool isRoot = node_->kind == XmlNodeKind::Document && node_->parent == node_;
    if (!isRoot && node_->kind != XmlNodeKind::Element)
        return XmlNodeRef();
    XmlNode* child = XmlNewNodeIn(node_->arena, kind, true);
    if (child == nullptr)
        return XmlNodeRef();
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
    XmlDetachAndDestroyChild(node_, index);
}

XmlNodeRef XmlNodeRef::FindDescendant(const char* name) const {
    if (!IsValid() || name == nullptr || node_->childCount == 0)
        return XmlNodeRef();
    std::size_t nameLength = std::strlen(name);
    XmlNode* found = nullptr;
    XmlVisitDescendants(node_, [&](XmlNode* child) {
        if (child->name != nullptr && child->nameLength == nameLength &&
            std::memcmp(child->name, name, nameLength) == 0) {
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
        XmlAttributeRef name = child.Attribute("name");
        if (!name.IsValid())
            continue;
        XmlAttribute* record = name.Get();
        if (record->value != nullptr ? XmlSpanEquals(record->value, record->valueLength, text) : *text == '\0') {
            return child;
        }
    }
    return XmlNodeRef();
}

bool XmlNodeRef::NameIs(const char* text) const {
    if (!IsValid() || text == nullptr)
        return false;
    std::size_t length = node_->name != nullptr ? node_->nameLength : 0;
    if (length > kNameCompareLimit)
        length = kNameCompareLimit;
    return std::strlen(text) == length && (length == 0 || std::memcmp(node_->name, text, length) == 0);
}

bool XmlNodeRef::SetName(const char* text) const {
    if (!IsValid() || node_->arena == nullptr || text == nullptr)
        return false;
    return ReplaceSpan(node_->arena, node_->name, *node_, true, text);
}

bool XmlNodeRef::SetValue(const char* text) const {
    if (!IsValid() || node_->arena == nullptr || text == nullptr)
        return false;
    return ReplaceSpan(node_->arena, node_->value, *node_, false, text);
}

XmlAttributeRef XmlNodeRef::FindAttribute(const char* name) const {
    if (!IsValid() || name == nullptr)
        return XmlAttributeRef();
    std::size_t length = std::strlen(name);
    for (std::uint32_t i = 0; i < node_->attributeCount; ++i) {
        XmlAttribute* attribute = node_->attributes[i];
        if (attribute != nullptr && attribute->name != nullptr && attribute->nameLength == length &&
            std::memcmp(attribute->name, name, length) == 0) {
            return XmlAttributeRef(attribute, node_->arena);
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
    XmlAttribute* attribute = XmlNewAttributeIn(arena);
    if (attribute == nullptr)
        return XmlAttributeRef();
    std::size_t nameLength = std::strlen(name);
    std::size_t valueLength = std::strlen(value);
    char* nameCopy = nameLength <= 0x7FFFFFFFu ? XmlCopyText(arena, name, nameLength) : nullptr;
    char* valueCopy = valueLength <= 0x7FFFFFFFu ? XmlCopyText(arena, value, valueLength) : nullptr;
    if (nameCopy == nullptr || valueCopy == nullptr || !XmlAppendAttributeSlot(node_, attribute, 1)) {
        XmlReleaseText(arena, nameCopy, static_cast<std::uint32_t>(nameLength));
        XmlReleaseText(arena, valueCopy, static_cast<std::uint32_t>(valueLength));
        arena->Release(attribute, sizeof(XmlAttribute));
        return XmlAttributeRef();
    }
    attribute->name = nameCopy;
    attribute->nameLength = static_cast<std::uint32_t>(nameLength);
    attribute->nameBorrowed = 0;
    attribute->value = valueCopy;
    attribute->valueLength = static_cast<std::uint32_t>(valueLength);
    attribute->valueBorrowed = 0;
    return XmlAttributeRef(attribute, arena);
}

XmlNodeRef EnsureSection(XmlNodeRef node, const char* sectionName) {
    if (!node.IsValid() || sectionName == nullptr)
        return XmlNodeRef();
    XmlNode* top = node.Get();
    while (top->parent != nullptr && top->parent != top) top = top->parent;
    if (top->parent != top || top->kind != XmlNodeKind::Document)
        return XmlNodeRef();
    XmlNodeRef document(top);
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
