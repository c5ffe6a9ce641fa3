#pragma once

// Internal to the XML library: the node and attribute records behind the handles. Names and values are byte
// spans with a length, not NUL-terminated strings: a parsed tree borrows every span from the document's text
// buffer, and only what is set later through the handles is an owned, NUL-terminated copy.

#include <cstdint>
#include <cstring>

#include "xml/xml_node_kind.h"
#include "xml_arena.h"
#include "xml_byte_classes.h"

namespace vantrel {

// An attribute span starts at a 32-bit place: an offset into the text the tree was parsed from (the arena's
// text) when borrowed, the slot of an owned copy in the arena when not. A borrowed name is a whole run of name
// bytes in the text and an owned one is NUL-terminated, so a name needs no length of its own: the record takes
// 12 bytes.
inline constexpr std::uint32_t kXmlNoSpan = 0xFFFFFFFFu;  // no value
inline constexpr std::uint32_t kXmlNoName = 0x7FFFFFFFu;  // no name

struct XmlAttribute {
    std::uint32_t nameAt : 31;           // kXmlNoName for a quoted DOCTYPE word
    std::uint32_t nameBorrowed : 1;      // 1: points into text the record does not own (or is none)
    std::uint32_t valueAt = kXmlNoSpan;  // none for an attribute written without "="
    std::uint32_t valueLength : 31;
    std::uint32_t valueBorrowed : 1;

    XmlAttribute() : nameAt(kXmlNoName), nameBorrowed(1), valueLength(0), valueBorrowed(1) {}
    // An attribute whose name and value are both spans of the text.
    static XmlAttribute Borrowed(std::uint32_t nameAt, std::uint32_t valueAt, std::uint32_t valueLength) {
        XmlAttribute attribute;
        attribute.nameAt = nameAt;
        attribute.valueAt = valueAt;
        attribute.valueLength = valueLength;
        return attribute;
    }
};
static_assert(sizeof(XmlAttribute) == 12, "one attribute record in 12 bytes");

// A node's name and value are placed like an attribute's spans (a text offset when borrowed, a copy's slot
// when owned, kXmlNoSpan for none) and the kind shares a word with the child capacity: the record takes 64
// bytes, one cache line.
inline constexpr std::uint32_t kXmlMaxChildCapacity = (std::uint32_t{1} << 27) - 1;
inline constexpr std::uint32_t kXmlMaxAttributeCapacity = (std::uint32_t{1} << 31) - 1;

struct XmlNode {
    XmlNode* parent = nullptr;  // a root is its own parent
    // The records themselves, in order: an attribute handle is its node and index, so the array may move.
    XmlAttribute* attributes = nullptr;
    XmlNode** children = nullptr;  // document order
    // Where this node's records, arrays and owned copies come from; every node of a tree shares it.
    XmlArena* arena = nullptr;
    std::uint32_t nameAt = kXmlNoSpan;
    std::uint32_t nameLength : 31;
    std::uint32_t nameBorrowed : 1;  // 1: points into text the record does not own (or is none)
    std::uint32_t valueAt = kXmlNoSpan;
    std::uint32_t valueLength : 31;
    std::uint32_t valueBorrowed : 1;
    std::uint32_t attributeCount = 0;
    std::uint32_t attributeCapacity : 31;  // at most kXmlMaxAttributeCapacity
    // 1 once a change through the handles has reached the node or anything below it (XmlMarkEdited); a parse
    // leaves it 0, so that the writer may copy an untouched subtree's text (XmlVerbatim).
    std::uint32_t edited : 1;
    std::uint32_t childCount = 0;
    std::uint32_t childCapacity : 27;  // at most kXmlMaxChildCapacity
    XmlNodeKind kind : 5;

    XmlNode()
        : nameLength(0),
          nameBorrowed(1),
          valueLength(0),
          valueBorrowed(1),
          attributeCapacity(0),
          edited(0),
          childCapacity(0),
          kind(XmlNodeKind::None) {}
};
static_assert(sizeof(XmlNode) == 64, "one node record in 64 bytes");

// The first byte of a node's name or value, or null when it has none.
inline const char* XmlSpanAt(const XmlNode* node, std::uint32_t at, bool borrowed) {
    if (at == kXmlNoSpan)
        return nullptr;
    return borrowed ? node->arena->text + at : node->arena->CopyInSlot(at);
}
inline const char* XmlNodeName(const XmlNode* node) {
    return XmlSpanAt(node, node->nameAt, node->nameBorrowed);
}
inline const char* XmlNodeValue(const XmlNode* node) {
    return XmlSpanAt(node, node->valueAt, node->valueBorrowed);
}
// Makes the node's name or value a span of the text its arena's tree is parsed from.
inline void XmlBorrowName(XmlNode* node, const char* start, std::uint32_t length) {
    node->nameAt = static_cast<std::uint32_t>(start - node->arena->text);
    node->nameLength = length;
}
inline void XmlBorrowValue(XmlNode* node, const char* start, std::uint32_t length) {
    node->valueAt = static_cast<std::uint32_t>(start - node->arena->text);
    node->valueLength = length;
}

// The first byte of an attribute's name or value (of a node in the tree of arena), or null when it has none.
inline const char* XmlAttributeName(const XmlNode* node, const XmlAttribute& attribute) {
    if (!attribute.nameBorrowed)
        return node->arena->CopyInSlot(attribute.nameAt);
    return attribute.nameAt != kXmlNoName ? node->arena->text + attribute.nameAt : nullptr;
}
inline const char* XmlAttributeValue(const XmlNode* node, const XmlAttribute& attribute) {
    if (!attribute.valueBorrowed)
        return node->arena->CopyInSlot(attribute.valueAt);
    return attribute.valueAt != kXmlNoSpan ? node->arena->text + attribute.valueAt : nullptr;
}
// The bytes of the name that starts at name (XmlAttributeName): an owned copy up to its terminator, a borrowed
// span up to the end of its run of name bytes.
inline std::uint32_t XmlAttributeNameLength(const XmlAttribute& attribute, const char* name) {
    if (name == nullptr)
        return 0;
    const char* end = attribute.nameBorrowed ? parsing::SkipName(name) : name + std::strlen(name);
    return static_cast<std::uint32_t>(end - name);
}

// Notes that node, and so each node above it, no longer holds what the parse gave it. Climbing stops at the
// first node already marked: everything above it is marked too.
inline void XmlMarkEdited(XmlNode* node) {
    for (; node != nullptr && !node->edited; node = node->parent != node ? node->parent : nullptr) node->edited = 1;
}

// A new node with zero counts and null spans, parent null (the caller sets it); null when out of memory.
// Attribute array of capacity 1 except for Document, Text, CData, Comment and IncludeSection; child array of
// capacity 1 for Document, Element and Doctype only. The node owns a fresh arena that the whole tree built
// below it allocates from, taking at most budget bytes from the system.
XmlNode* XmlNewNode(XmlNodeKind kind, std::uint64_t budget = UINT64_MAX);

// A new Document root (its own parent) for a new tree with this budget. When old is a root that owns its
// arena, its tree is dropped and the arena's memory is used again for the new one; otherwise old is destroyed.
// Null when out of memory.
XmlNode* XmlRenewRoot(XmlNode* old, std::uint64_t budget);

// Gives back what the root's arena kept from an earlier tree and the new one did not need.
void XmlTrimTree(XmlNode* root);

// Frees the tree below and including top, never climbing above it; null does nothing. A top that owns its
// arena (made by XmlNewNode) releases the arena at once; a detached subtree returns its memory to the arena
// for reuse. Iterative: any depth is fine.
void XmlDestroyTree(XmlNode* top);

// Takes the child at index out of parent's array (later children move up), makes it its own parent and
// destroys it. Does nothing when the index is out of range.
void XmlDetachAndDestroyChild(XmlNode* parent, std::uint32_t index);

// Bytes the tree's arena holds from the system (records, arrays, owned copies; not the text buffer).
std::uint64_t XmlTreeMemory(const XmlNode* node);

// True when the span equals the NUL-terminated text exactly (same length, same bytes).
bool XmlSpanEquals(const char* span, std::uint32_t length, const char* text);

}  // namespace vantrel
