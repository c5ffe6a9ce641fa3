#pragma once

// The node and attribute records of an XML tree. Names and values are byte spans with a length, not
// NUL-terminated strings: a parsed tree borrows every span from the document's text buffer, and only what
// is set later through the access layer is an owned, NUL-terminated copy.

#include <cstdint>

namespace vantrel {

class XmlArena;

enum class XmlNodeKind : std::int32_t {
    None = 0,         // what an empty handle refers to; never part of a tree
    Document = 1,     // root of a tree; children only
    Element = 2,      // name, attributes, children
    Text = 3,         // character data, in the value
    CData = 4,        // "<![CDATA[" content, in the value
    Comment = 5,      // "<!--" content, in the value
    Declaration = 6,  // "<?...?>": name and attributes
    IncludeSection = 7,
    Doctype = 8,       // words as attributes; internal subset as children or as raw value
    EntityDecl = 9,    // "<!ENTITY" and every unknown markup declaration: name and raw rest
    AttlistDecl = 10,  // name and raw rest
    ElementDecl = 11,
    NotationDecl = 12,
};

// Span lengths are 31 bits wide so that each flag shares its length's word (keeps records small).
struct XmlAttribute {
    char* name = nullptr;   // null for a quoted DOCTYPE word
    char* value = nullptr;  // null for an attribute written without "="
    std::uint32_t nameLength : 31;
    std::uint32_t nameBorrowed : 1;  // 1: points into text the record does not own (or is null)
    std::uint32_t valueLength : 31;
    std::uint32_t valueBorrowed : 1;

    XmlAttribute() : nameLength(0), nameBorrowed(1), valueLength(0), valueBorrowed(1) {}
};

struct XmlNode {
    XmlNode* parent = nullptr;  // a root is its own parent
    char* name = nullptr;
    std::uint32_t nameLength : 31;
    std::uint32_t nameBorrowed : 1;
    XmlNodeKind kind = XmlNodeKind::None;
    std::uint32_t attributeCount = 0;
    std::uint32_t attributeCapacity = 0;
    XmlAttribute** attributes = nullptr;
    std::uint32_t childCount = 0;
    std::uint32_t childCapacity = 0;
    XmlNode** children = nullptr;  // document order
    char* value = nullptr;
    std::uint32_t valueLength : 31;
    std::uint32_t valueBorrowed : 1;
    // Where this node's records, arrays and owned copies come from; every node of a tree shares it.
    XmlArena* arena = nullptr;

    XmlNode() : nameLength(0), nameBorrowed(1), valueLength(0), valueBorrowed(1) {}
};

// A new node with zero counts and null spans, parent null (the caller sets it); null when out of memory.
// Attribute array of capacity 1 except for Document, Text, CData, Comment and IncludeSection; child array of
// capacity 1 for Document, Element and Doctype only. The node owns a fresh arena that the whole tree
// built below it (by XmlParse and the access layer) allocates from.
XmlNode* XmlNewNode(XmlNodeKind kind);

// Frees the tree below and including top, never climbing above it; null does nothing. A top that owns
// its arena (made by XmlNewNode) releases the arena at once; a detached subtree returns its memory to
// the arena for reuse. Iterative: any depth is fine.
void XmlDestroyTree(XmlNode* top);

// Takes the child at index out of parent's array (later children move up), makes it its own parent and
// destroys it. Does nothing when the index is out of range.
void XmlDetachAndDestroyChild(XmlNode* parent, std::uint32_t index);

// Bytes the tree's arena holds from the system (records, arrays, owned copies; not the text buffer).
std::uint64_t XmlTreeMemory(const XmlNode* node);

// True when the span equals the NUL-terminated text exactly (same length, same bytes).
bool XmlSpanEquals(const char* span, std::uint32_t length, const char* text);

}  // namespace vantrel
