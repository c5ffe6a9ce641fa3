// libFuzzer entry point: parse arbitrary bytes under options taken from the input, write the tree in both
// layouts, parse the output again, and use the access layer on what came out.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "xml/xml_document.h"
#include "xml/xml_node_ref.h"
#include "xml/xml_writer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vantrel;
    if (size < 2)
        return 0;
    std::uint32_t options = XmlParseOptions::AllOptions;
    if (data[0] & 1)
        options = static_cast<std::uint32_t>(data[1]) << 8 | data[0];
    std::string_view text(reinterpret_cast<const char*>(data) + 2, size - 2);

    XmlDocument document;
    document.parseOptions = options;
    document.LoadText(text);
    std::string compact = XmlWriteToString(document.Root(), XmlLayout::Compact);
    std::string indented = XmlWriteToString(document.Root(), XmlLayout::Indented);

    XmlDocument again;
    again.LoadText(indented);
    XmlNodeRef section = EnsureSection(again.Root(), "DEVINFO");
    section.FindChildByName("x");
    XmlNodeRef dev = section.AppendChild(XmlNodeKind::Element);
    dev.SetName("DEV");
    dev.Attribute("id").SetUnsigned(section.Child(0).Attribute("id").ValueAsUnsigned());
    if (again.Root().ChildCount() > 0)
        again.Root().RemoveChild(0);
    XmlWriteToString(again.Root(), XmlLayout::Compact);
    return 0;
}
