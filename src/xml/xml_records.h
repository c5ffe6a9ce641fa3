#pragma once

// Internal to the XML library: the way between handles and the records behind them.

#include <cstdint>

#include "xml/xml_node_ref.h"
#include "xml_node.h"

namespace vantrel {

struct XmlRecords {
    static XmlNode* NodeOf(XmlNodeRef node) { return node.Record(); }
    static XmlNodeRef RefOf(XmlNode* node) { return XmlNodeRef(node); }
    static XmlAttribute* AttributeOf(XmlAttributeRef attribute) { return attribute.Record(); }
    static XmlAttributeRef AttributeRefOf(XmlNode* node, std::uint32_t index) { return XmlAttributeRef(node, index); }
};

}  // namespace vantrel
