#pragma once

#include <cstddef>

#include "records/text_field.h"
#include "xml/xml_node_ref.h"

namespace vantrel {

// Copies the text of node's attribute into a fixed field of size bytes, cut at the last whole UTF-8 character
// that fits (CopyToField). Reading creates the attribute, empty, when the node lacks it.
inline void CopyAttribute(XmlNodeRef node, const char* name, char* field, std::size_t size) {
    CopyToField(field, size, node.Attribute(name).ValueView());
}

}  // namespace vantrel
