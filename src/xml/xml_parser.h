#pragma once

// Internal to the XML library: the tolerant, non-copying parser. It never refuses input: what it cannot make
// sense of it skips, and where the text ends it stops, keeping the tree built so far. Beside the tree it tells
// whether the text was one complete document and where the first thing it skipped or repaired stands.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "xml/xml_load_result.h"
#include "xml/xml_node_kind.h"
#include "xml_node.h"

namespace vantrel {

struct XmlParseResult {
    const char* stop = nullptr;  // where parsing stopped: the first NUL, or after a subset's "]"
    XmlDamage damage = XmlDamage::None;
    const char* problemAt = nullptr;  // in the text; null when not damaged
    const char* detail = nullptr;     // what was cut off or could not be read, for the message
    std::string_view first;           // names for the message (spans of the text)
    std::string_view second;
    std::uint32_t depth = 0;   // deepest nesting of elements: an element directly below parent is at 1
    bool outOfMemory = false;  // the tree's arena could not give what the text needed: the tree is incomplete
};

// The longest text a tree can be parsed from: attribute names are 31-bit offsets into it.
inline constexpr std::size_t kXmlMaxText = 0x7FFFFFFEu;

// Parses text into children of parent, whose tree's arena supplies the memory; names and values point into
// text, which must outlive the tree. The text ends at its first NUL byte. growthStep is the least number of
// slots a full child array grows by (below 1 counts as 1). While a subset is parsed one byte of text is set
// to NUL and put back afterwards. Damage is judged for a whole document when parent is a Document root.
// A tree takes one text, of at most kXmlMaxText bytes: a parse of another text into it reads nothing.
XmlParseResult XmlParse(char* text, XmlNode* parent, std::int32_t growthStep, std::uint32_t options);

// The first problem in words, e.g. "closing tag </DEV> does not match <DEVINFO>".
std::string XmlDescribeDamage(const XmlParseResult& result);

}  // namespace vantrel
