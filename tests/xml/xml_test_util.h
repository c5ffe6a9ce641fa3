#pragma once

// A compact text form of a tree, for comparing parse results in one line:
// E:name[a=v,b](...)  T'text'  C'comment'  D'cdata'  I'include'  ?name[...]  !DOCTYPE[...](...)'subset'
// ENTITY:name'rest'  ATTLIST:...  ELEMENT:...  NOTATION:...   A nameless attribute shows as ~=value.

#include <string>

#include "xml/xml_document.h"
#include "xml/xml_node.h"

namespace vantrel::test {

inline std::string Span(const char* data, std::uint32_t length) {
    return data == nullptr ? std::string() : std::string(data, length);
}

inline std::string DescribeNode(const XmlNode* node) {
    std::string out;
    auto attributes = [&] {
        if (node->attributeCount == 0)
            return;
        out += '[';
        for (std::uint32_t i = 0; i < node->attributeCount; ++i) {
            const XmlAttribute* a = node->attributes[i];
            if (i > 0)
                out += ',';
            out += a->name == nullptr ? "~" : Span(a->name, a->nameLength);
            if (a->value != nullptr)
                out += "=" + Span(a->value, a->valueLength);
        }
        out += ']';
    };
    auto children = [&] {
        if (node->childCount == 0)
            return;
        out += '(';
        for (std::uint32_t i = 0; i < node->childCount; ++i) {
            if (i > 0)
                out += ' ';
            out += DescribeNode(node->children[i]);
        }
        out += ')';
    };
    auto quoted = [&](const char* tag) { out += tag + ("'" + Span(node->value, node->valueLength) + "'"); };
    switch (node->kind) {
        case XmlNodeKind::Document:
            children();
            break;
        case XmlNodeKind::Element:
            out += "E:" + Span(node->name, node->nameLength);
            attributes();
            children();
            break;
        case XmlNodeKind::Declaration:
            out += "?" + Span(node->name, node->nameLength);
            attributes();
            children();
            break;
        case XmlNodeKind::Text:
            quoted("T");
            break;
        case XmlNodeKind::Comment:
            quoted("C");
            break;
        case XmlNodeKind::CData:
            quoted("D");
            break;
        case XmlNodeKind::IncludeSection:
            quoted("I");
            break;
        case XmlNodeKind::Doctype:
            out += "!DOCTYPE";
            attributes();
            children();
            if (node->value != nullptr)
                quoted("");
            break;
        case XmlNodeKind::EntityDecl:
        case XmlNodeKind::AttlistDecl:
        case XmlNodeKind::ElementDecl:
        case XmlNodeKind::NotationDecl: {
            static const char* const kKeywords[] = {"ENTITY:", "ATTLIST:", "ELEMENT:", "NOTATION:"};
            out += kKeywords[static_cast<int>(node->kind) - static_cast<int>(XmlNodeKind::EntityDecl)];
            out += Span(node->name, node->nameLength);
            quoted("");
            break;
        }
        case XmlNodeKind::None:
            out += "None";
            break;
    }
    return out;
}

// Parses text (AllOptions unless given) and describes the top-level nodes.
inline std::string ParseAndDescribe(const std::string& text, std::uint32_t options = XmlParseOptions::AllOptions) {
    XmlDocument document;
    document.parseOptions = options;
    document.LoadText(text);
    return DescribeNode(document.root);
}

}  // namespace vantrel::test
