#pragma once

// Internal to the XML library: tree building blocks shared by the parser and the handles.

#include <cstddef>
#include <cstdint>

#include "xml_arena.h"
#include "xml_node.h"

namespace vantrel {

// A node in arena; with arrays: the capacity-1 arrays XmlNewNode gives the kind. Null when out of memory.
XmlNode* XmlNewNodeIn(XmlArena* arena, XmlNodeKind kind, bool withArrays);

// Appends child to node's child array, growing it by at least growthStep slots (and at least doubling);
// false (nothing added) when the array cannot grow.
bool XmlAppendChildSlot(XmlNode* node, XmlNode* child, std::uint32_t growthStep);

// Appends an attribute with null spans, both borrowed, to node's attribute array, growing it as above;
// null when it cannot grow. Pointers to node's attributes are stale afterwards.
XmlAttribute* XmlAppendAttribute(XmlNode* node, std::uint32_t growthStep);

// An owned NUL-terminated copy of length bytes; null when out of memory.
char* XmlCopyText(XmlArena* arena, const char* text, std::size_t length);

// Replaces the name (or the value) of attribute, a record of a node in arena's tree, by an owned copy of length
// bytes of text, which may point into the old span. False when out of memory: the span is then none.
bool XmlSetAttributeCopy(XmlArena* arena, XmlAttribute& attribute, bool name, const char* text, std::size_t length);

// The same for the name (or the value) of node.
bool XmlSetNodeCopy(XmlNode* node, bool name, const char* text, std::size_t length);

// Gives back the attribute's owned name and value; it has neither afterwards.
void XmlReleaseAttributeCopies(XmlArena* arena, XmlAttribute& attribute);

// Gives an owned copy back to the arena.
void XmlReleaseText(XmlArena* arena, char* text, std::uint32_t length);

}  // namespace vantrel
