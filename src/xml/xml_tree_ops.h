#pragma once

// Tree building blocks shared by the parser and the access layer (not part of the public interface).

#include <cstddef>
#include <cstdint>

#include "xml/xml_arena.h"
#include "xml/xml_node.h"

namespace vantrel {

// A node in arena; with arrays: the capacity-1 arrays XmlNewNode gives the kind. Null when out of memory.
XmlNode* XmlNewNodeIn(XmlArena* arena, XmlNodeKind kind, bool withArrays);

// An attribute record in arena with null spans, both borrowed; null when out of memory.
XmlAttribute* XmlNewAttributeIn(XmlArena* arena);

// Appends child to node's child array, growing it by at least growthStep slots (and at least doubling);
// false (nothing added) when the array cannot grow.
bool XmlAppendChildSlot(XmlNode* node, XmlNode* child, std::uint32_t growthStep);

// Appends attribute to node's attribute array, growing as above; false when it cannot grow.
bool XmlAppendAttributeSlot(XmlNode* node, XmlAttribute* attribute, std::uint32_t growthStep);

// An owned NUL-terminated copy of length bytes; null when out of memory.
char* XmlCopyText(XmlArena* arena, const char* text, std::size_t length);

// Gives an owned copy back to the arena.
void XmlReleaseText(XmlArena* arena, char* text, std::uint32_t length);

}  // namespace vantrel
