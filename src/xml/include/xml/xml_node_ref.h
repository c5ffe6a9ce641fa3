#pragma once

// Value handles through which the database reads and edits a tree: the only door to it. A handle is small,
// never owns anything and is safe when empty: every operation on an empty handle does nothing and gives an
// empty handle, false, 0 or an empty text.
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
// attributes keeps every existing handle valid. Views (NameView, ValueView) point into the tree and stay
// valid until that name or value is replaced or its node is removed.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "xml/xml_node_kind.h"

namespace vantrel {

struct XmlNode;
struct XmlAttribute;
struct XmlRecords;
class XmlNodeRef;

// IndexInParent of a node that has no parent.
inline constexpr std::uint32_t kXmlNoIndex = 0xFFFFFFFFu;

class XmlAttributeRef {
public:
    XmlAttributeRef() = default;

    bool IsValid() const { return node_ != nullptr; }

    // The name bytes; empty when the handle is empty or the attribute has no name (a quoted DOCTYPE word).
    std::string_view NameView() const;
    std::string Name() const { return std::string(NameView()); }
    // The value bytes; empty when the handle is empty or the value is null.
    std::string_view ValueView() const;
    std::string Value() const { return std::string(ValueView()); }
    // False for an empty handle and for an attribute written without "=" (no value, not even an empty one).
    bool HasValue() const;
    // True when the value is exactly text (same bytes, same length); no value counts as the empty text.
    // False for an empty handle.
    bool ValueIs(std::string_view text) const;
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

    // Same attribute of the same node (two empty handles are equal).
    bool operator==(const XmlAttributeRef& other) const { return node_ == other.node_ && index_ == other.index_; }
    bool operator!=(const XmlAttributeRef& other) const { return !(*this == other); }

private:
    friend class XmlNodeRef;
    friend struct XmlRecords;
    XmlAttributeRef(XmlNode* node, std::uint32_t index) : node_(node), index_(index) {}
    XmlAttribute* Record() const;

    // An attribute is its node and its place there: the records may move when the node gains attributes.
    XmlNode* node_ = nullptr;
    std::uint32_t index_ = 0;
};

class XmlNodeRef {
public:
    XmlNodeRef() = default;

    // True when the handle refers to a node (handles are never made for a node of kind None).
    bool IsValid() const { return node_ != nullptr; }
    // None for an empty handle.
    XmlNodeKind Kind() const;
    // The name bytes; empty for an empty handle or a node without a name.
    std::string_view NameView() const;
    std::string Name() const { return std::string(NameView()); }
    // The value bytes (text, comment, raw rest); empty when there is none.
    std::string_view ValueView() const;
    std::string Value() const { return std::string(ValueView()); }
    // False for an empty handle and for a node with no value at all (an element; a section the text ended
    // in has an empty one). The writer leaves out a comment, section or subset without a value.
    bool HasValue() const;
    // The parent; empty for an empty handle, and for a root (its own parent).
    XmlNodeRef Parent() const;
    // This node's place among its parent's children; kXmlNoIndex for an empty handle or a root. Linear in
    // the number of earlier siblings.
    std::uint32_t IndexInParent() const;
    // True when ancestor is a parent, grandparent, ... of this node (a node is not below itself); false
    // when either handle is empty.
    bool IsBelow(XmlNodeRef ancestor) const;

    std::uint32_t ChildCount() const;
    // Empty when index is not below ChildCount().
    XmlNodeRef Child(std::uint32_t index) const;
    std::uint32_t AttributeCount() const;
    // Empty when index is not below AttributeCount(); reads nothing into the tree.
    XmlAttributeRef AttributeAt(std::uint32_t index) const;

    // Calls visit(XmlNodeRef) for every node below this one in document order, parents before their
    // children; this node itself is not visited. The walk stops as soon as visit returns false. Iterative,
    // so any depth is fine; the tree must not be changed during the walk.
    template <typename Visit>
    void VisitDescendants(Visit&& visit) const {
        using Callable = std::remove_reference_t<Visit>;
        auto call = [](void* context, XmlNodeRef node) -> bool { return (*static_cast<Callable*>(context))(node); };
        VisitDescendantsThrough(call, const_cast<void*>(static_cast<const void*>(&visit)));
    }

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

    // Identity: the same node (all empty handles are equal). The order is fixed for the node's lifetime but
    // says nothing about document order; with std::hash below, handles serve as keys of maps and sets.
    bool operator==(const XmlNodeRef& other) const { return Record() == other.Record(); }
    bool operator!=(const XmlNodeRef& other) const { return !(*this == other); }
    bool operator<(const XmlNodeRef& other) const { return std::less<const XmlNode*>()(Record(), other.Record()); }
    std::size_t Hash() const { return std::hash<const XmlNode*>()(Record()); }

private:
    // A null node or one of kind None gives an empty handle.
    explicit XmlNodeRef(XmlNode* node);

private:
    friend class XmlAttributeRef;
    friend struct XmlRecords;
    XmlNode* Record() const { return node_; }
    void VisitDescendantsThrough(bool (*call)(void*, XmlNodeRef), void* context) const;

    XmlNode* node_ = nullptr;
};

// The section element below DATAROOT of the document that node belongs to: climbs to the Document root,
// finds DATAROOT depth-first (appending it to the root when absent) and the section depth-first below it
// (appending it to DATAROOT when absent). Empty for an empty handle, a null name, or a node whose tree
// has no Document root (a detached subtree).
XmlNodeRef EnsureSection(XmlNodeRef node, const char* sectionName);

}  // namespace vantrel

template <>
struct std::hash<vantrel::XmlNodeRef> {
    std::size_t operator()(const vantrel::XmlNodeRef& node) const { return node.Hash(); }
};
