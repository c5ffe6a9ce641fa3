#pragma once

// Value handles through which the database reads and edits a tree. A handle is one or two pointers,
// never owns anything and is safe when empty: every operation on an empty handle does nothing and
// gives an empty handle, false, 0 or an empty string.
//
// Typical use:
//
//     XmlDocument document;
//     document.LoadFile(path);                        // missing file: empty document
//     XmlNodeRef devinfo = EnsureSection(document.Root(), "DEVINFO");  // creates DATAROOT/DEVINFO
//     for (std::uint32_t i = 0; i < devinfo.ChildCount(); ++i) {
//         XmlNodeRef dev = devinfo.Child(i);
//         if (!dev.NameIs("DEV")) continue;
//         std::uint32_t id = dev.Attribute("id").ValueAsUnsigned();  // absent: added empty, gives 0
//     }
//     XmlNodeRef dev = devinfo.AppendChild(XmlNodeKind::Element);
//     dev.SetName("DEV");
//     dev.Attribute("id").SetUnsigned(7);
//     dev.Attribute("name").SetValue("Gate");
//     std::string bytes = XmlWriteToString(document.Root(), XmlLayout::Indented, XmlLineEnd::CrLf);
//
// Handles to a removed node (RemoveChild, Clear, destruction) must not be used; appending children or
// attributes keeps every existing handle valid.

#include <cstdint>
#include <string>

#include "xml/xml_document.h"
#include "xml/xml_node.h"

namespace vantrel {

class XmlAttributeRef {
public:
    XmlAttributeRef() = default;
    XmlAttributeRef(XmlAttribute* attribute, XmlArena* arena) : attribute_(attribute), arena_(arena) {}

    bool IsValid() const { return attribute_ != nullptr; }
    XmlAttribute* Get() const { return attribute_; }

    // The value bytes; empty when the handle is empty or the value is null.
    std::string Value() const;
    // The name bytes; empty when the handle is empty or the name is null.
    std::string Name() const;
    // Decimal value of the first 255 bytes like strtoul in 32 bits: leading white space and a sign are
    // accepted, "-1" gives 4294967295, too large gives 4294967295, no digits gives 0; 0 when empty.
    std::uint32_t ValueAsUnsigned() const;
    // Replaces the value by an owned copy; false when the handle is empty, text is null or out of memory.
    bool SetValue(const char* text) const;
    // Replaces the value by "%u" of the number; returns this handle.
    XmlAttributeRef SetUnsigned(std::uint32_t number) const;
    // Same with the low 16 bits (70000 writes 4464).
    XmlAttributeRef SetUnsigned16(std::uint32_t number) const;
    // Same with the low 8 bits (300 writes 44).
    XmlAttributeRef SetUnsigned8(std::uint32_t number) const;

private:
    XmlAttribute* attribute_ = nullptr;
    XmlArena* arena_ = nullptr;
};

class XmlNodeRef {
public:
    XmlNodeRef() = default;
    explicit XmlNodeRef(XmlNode* node) : node_(node) {}

    // True when there is a node and its kind is not None.
    bool IsValid() const { return node_ != nullptr && node_->kind != XmlNodeKind::None; }
    XmlNode* Get() const { return IsValid() ? node_ : nullptr; }
    // None for an empty handle.
    XmlNodeKind Kind() const { return IsValid() ? node_->kind : XmlNodeKind::None; }
    // Empty for an empty handle or a node without a name.
    std::string Name() const;
    // The value bytes (text, comment, raw rest); empty when there is none.
    std::string Value() const;
    // The parent; empty for an empty handle, and for a root (its own parent).
    XmlNodeRef Parent() const;

    std::uint32_t ChildCount() const { return IsValid() ? node_->childCount : 0; }
    // Empty when index is not below ChildCount().
    XmlNodeRef Child(std::uint32_t index) const;
    std::uint32_t AttributeCount() const { return IsValid() ? node_->attributeCount : 0; }
    // Empty when index is not below AttributeCount(); reads nothing into the tree.
    XmlAttributeRef AttributeAt(std::uint32_t index) const;

    // Appends a new child of this kind with no name and no value. Only an Element or a Document that is its
    // own parent takes children here; otherwise (or out of memory) empty.
    XmlNodeRef AppendChild(XmlNodeKind kind) const;
    // Removes and destroys the child at index, keeping the order of the others; out of range does nothing.
    void RemoveChild(std::uint32_t index) const;

    // First descendant (not this node) of any kind whose name equals name, depth-first in document order;
    // empty when there is none or name is null. Iterative.
    XmlNodeRef FindDescendant(const char* name) const;
    // First child whose "name" attribute equals text exactly. Reads through Attribute, so every child
    // examined before a match (all of them when none matches) gains an empty "name" if it had none.
    XmlNodeRef FindChildByName(const char* text) const;

    // True when the node's name cut to its first 255 bytes equals text (no name counts as ""); false for
    // an empty handle or null text.
    bool NameIs(const char* text) const;
    // Replaces the name by an owned copy; false when the handle is empty, text is null or out of memory.
    bool SetName(const char* text) const;
    // Replaces the value by an owned copy; false as for SetName.
    bool SetValue(const char* text) const;

    // The attribute of that name; when absent it is appended with an empty value, so a look-up on a
    // non-empty handle never fails (except out of memory). Empty for an empty handle or null name.
    XmlAttributeRef Attribute(const char* name) const;
    // The attribute of that name if present, adding nothing; empty otherwise.
    XmlAttributeRef FindAttribute(const char* name) const;
    // Appends an attribute with owned copies of both texts; empty when the handle or either text is null.
    XmlAttributeRef AddAttribute(const char* name, const char* value) const;

    bool operator==(const XmlNodeRef& other) const { return Get() == other.Get(); }
    bool operator!=(const XmlNodeRef& other) const { return !(*this == other); }

private:
    XmlNode* node_ = nullptr;
};

// The section element below DATAROOT of the document that node belongs to: climbs to the Document root,
// finds DATAROOT depth-first (appending it to the root when absent) and the section depth-first below it
// (appending it to DATAROOT when absent). Empty for an empty handle, a null name, or a node whose tree
// has no Document root (a detached subtree).
XmlNodeRef EnsureSection(XmlNodeRef node, const char* sectionName);

}  // namespace vantrel
