#pragma once

// A compact text form of a tree, for comparing parse results in one line:
// E:name[a=v,b](...)  T'text'  C'comment'  D'cdata'  I'include'  ?name[...]  !DOCTYPE[...](...)'subset'
// ENTITY:name'rest'  ATTLIST:...  ELEMENT:...  NOTATION:...   A nameless attribute shows as ~=value.

#include <string>

#include "xml/xml_document.h"
#include "xml/xml_node_ref.h"

namespace vantrel::test {

inline std::string DescribeNode(XmlNodeRef node) {
    std::string out;
    auto attributes = [&] {
        if (node.AttributeCount() == 0)
            return;
        out += '[';
        for (std::uint32_t i = 0; i < node.AttributeCount(); ++i) {
            XmlAttributeRef a = node.AttributeAt(i);
            if (i > 0)
                out += ',';
            out += a.NameView().empty() ? std::string("~") : a.Name();
            if (a.HasValue())
                out += "=" + a.Value();
        }
        out += ']';
    };
    auto children = [&] {
        if (node.ChildCount() == 0)
            return;
        out += '(';
        for (std::uint32_t i = 0; i < node.ChildCount(); ++i) {
            if (i > 0)
                out += ' ';
            out += DescribeNode(node.Child(i));
        }
        out += ')';
    };
    auto quoted = [&](const char* tag) { out += tag + ("'" + node.Value() + "'"); };
    switch (node.Kind()) {
        case XmlNodeKind::Document:
            children();
            break;
        case XmlNodeKind::Element:
            out += "E:" + node.Name();
            attributes();
            children();
            break;
        case XmlNodeKind::Declaration:
            out += "?" + node.Name();
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
            if (node.HasValue())
                quoted("");
            break;
        case XmlNodeKind::EntityDecl:
        case XmlNodeKind::AttlistDecl:
        case XmlNodeKind::ElementDecl:
        case XmlNodeKind::NotationDecl: {
            static const char* const kKeywords[] = {"ENTITY:", "ATTLIST:", "ELEMENT:", "NOTATION:"};
            out += kKeywords[static_cast<int>(node.Kind()) - static_cast<int>(XmlNodeKind::EntityDecl)];
            out += node.Name();
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
    document.SetParseOptions(options);
    document.LoadText(text);
    return DescribeNode(document.Root());
}

}  // namespace vantrel::test
