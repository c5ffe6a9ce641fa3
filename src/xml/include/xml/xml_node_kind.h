#pragma once

#include <cstdint>

namespace vantrel {

// The kind of a node of an XML tree.
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

// Bit set of what the parser keeps; bits not listed are ignored.
struct XmlParseOptions {
    enum : std::uint32_t {
        KeepDeclarations = 0x0002,         // "<?...?>" become Declaration nodes; else skipped up to ">"
        KeepDtd = 0x0004,                  // DOCTYPE and INCLUDE sections become nodes; else skipped
        KeepComments = 0x0008,             // comments become Comment nodes; else skipped
        KeepCData = 0x0010,                // CDATA sections become CData nodes; else skipped
        TrimText = 0x0040,                 // trailing white space trimmed from Text values
        TrimAttributeValues = 0x0080,      // attribute values trimmed at both ends
        TrimSections = 0x0100,             // CData and IncludeSection contents trimmed
        TrimMarkupDeclarations = 0x0200,   // raw rest of ENTITY, ATTLIST, ELEMENT, NOTATION trimmed
        TrimInternalSubset = 0x0400,       // raw subset trimmed when neither parsed nor stopped after
        TrimComments = 0x0800,             // comment contents trimmed
        ParseInternalSubset = 0x2000,      // a kept DOCTYPE's internal subset becomes child nodes
        StopAfterInternalSubset = 0x4000,  // the parse ends right after a kept subset's closing "]"
        AllOptions = 0xFFFF,
    };
};

// DOCTYPEs nested inside internal subsets deeper than this are skipped like markup that is not kept (and
// mark the text damaged), so that the nested parses stay bounded.
constexpr int kMaxDoctypeNesting = 64;

}  // namespace vantrel
