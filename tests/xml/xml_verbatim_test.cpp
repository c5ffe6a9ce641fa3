#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "support/xml_database_text.h"
#include "xml/xml_document.h"
#include "xml/xml_node_ref.h"
#include "xml/xml_writer.h"

namespace vantrel {
namespace {

std::string Write(XmlNodeRef root, const XmlVerbatim* verbatim = nullptr, XmlLayout layout = XmlLayout::Indented,
                  XmlLineEnd lineEnd = XmlLineEnd::CrLf) {
    std::string out;
    XmlStringSink sink(out);
    bool ok =
        verbatim != nullptr ? XmlWrite(sink, root, layout, lineEnd, *verbatim) : XmlWrite(sink, root, layout, lineEnd);
    EXPECT_TRUE(ok);
    return out;
}

XmlNodeRef Devices(const XmlDocument& document) {
    return document.Root().FindDescendant("DEVINFO");
}

// A database in the writer's own layout (CR LF, a TAB per level), as Vantrel and the client save it.
std::string OwnLayout(int devices, int channels = 2) {
    return test::GenerateDatabaseText({devices, channels, 2});
}

TEST(XmlVerbatim, UntouchedChildrenAreCopiedAsTheyWereRead) {
    // past the size from which the second half is looked at on a thread of its own
    for (int devices : {3, 1500}) {
        std::string text = OwnLayout(devices);
        XmlDocument document;
        ASSERT_TRUE(document.LoadText(text).Clean());
        XmlVerbatim verbatim =
            XmlVerbatim::Find(document.Text(), Devices(document), XmlLayout::Indented, XmlLineEnd::CrLf);
        EXPECT_EQ(verbatim.Count(), static_cast<std::size_t>(devices));
        EXPECT_EQ(Write(document.Root(), &verbatim), text);
    }
}

// Each change a handle can make, deep inside one device or to the list itself: what is written is what writing
// everything gives, and the change is in it.
TEST(XmlVerbatim, EveryKindOfChangeIsWrittenAnew) {
    const std::string text = OwnLayout(4);
    auto device = [](XmlDocument& document, std::uint32_t index) { return Devices(document).Child(index); };
    const std::vector<std::pair<const char*, std::function<void(XmlDocument&)>>> changes = {
        {"attribute value", [&](XmlDocument& d) { device(d, 1).Child(0).Attribute("desc").SetValue("porch"); }},
        {"attribute number", [&](XmlDocument& d) { device(d, 1).Attribute("port").SetUnsigned(81); }},
        {"attribute added on look-up", [&](XmlDocument& d) { device(d, 1).Child(1).Attribute("new"); }},
        {"attribute appended", [&](XmlDocument& d) { device(d, 1).AddAttribute("extra", "1"); }},
        {"name attribute added by a search",
         [&](XmlDocument& d) {
             XmlNodeRef entry = device(d, 1).Child(1).AppendChild(XmlNodeKind::Element);
             entry.SetName("X");
             d.Root().FindDescendant("X").Parent().FindChildByName("none");
         }},
        {"element renamed", [&](XmlDocument& d) { device(d, 1).Child(0).SetName("CAM"); }},
        {"child appended", [&](XmlDocument& d) { device(d, 1).Child(0).AppendChild(XmlNodeKind::Text).SetValue("t"); }},
        {"child removed", [&](XmlDocument& d) { device(d, 1).RemoveChild(1); }},
        {"the list itself removed",
         [&](XmlDocument& d) {
             XmlNodeRef root = Devices(d).Parent();
             root.RemoveChild(Devices(d).IndexInParent());
             root.AppendChild(XmlNodeKind::Element).SetName("DEVINFO");
         }},
        // the freed records are taken again by the new devices: they must not pass for the old ones
        {"devices removed and others added",
         [&](XmlDocument& d) {
             XmlNodeRef devices = Devices(d);
             devices.RemoveChild(0);
             devices.RemoveChild(0);
             for (int i = 0; i < 2; ++i) {
                 XmlNodeRef added = devices.AppendChild(XmlNodeKind::Element);
                 added.SetName("DEV");
                 added.AddAttribute("id", "900");
                 added.AppendChild(XmlNodeKind::Element).SetName("DEV");
             }
         }},
    };
    for (const auto& [what, change] : changes) {
        SCOPED_TRACE(what);
        XmlDocument document;
        ASSERT_TRUE(document.LoadText(text).Clean());
        XmlVerbatim verbatim =
            XmlVerbatim::Find(document.Text(), Devices(document), XmlLayout::Indented, XmlLineEnd::CrLf);
        ASSERT_EQ(verbatim.Count(), 4u);
        change(document);
        std::string copied = Write(document.Root(), &verbatim);
        EXPECT_EQ(copied, Write(document.Root()));
        EXPECT_NE(copied, text);
    }
}

// Children whose text is not what the writer gives are written; so is everything when the write is not the
// one the children were looked at for.
TEST(XmlVerbatim, OnlyTheWritersOwnTextIsCopied) {
    const std::string text =
        "<DATAROOT>\r\n\t<DEVINFO>\r\n"
        "\t\t<DEV id=\"1\"/>\r\n"            // as the writer gives it
        "\t\t<DEV id='2'/>\r\n"              // apostrophes
        "\t\t<DEV  id=\"3\"/>\r\n"           // two spaces
        "\t\t<DEV id=\"4\"></DEV>\r\n"       // an empty element with an end tag
        "\t\t<DEV id=\"5\" a=\"x&y\"/>\r\n"  // a loose "&"
        "\t\t<DEV id=\"6\"/>\n"              // a line feed alone
        "    <DEV id=\"7\"/>\r\n"            // spaces for indentation
        "\t\t<DEV id=\"8\"><!-- note --></DEV>\r\n"
        "\t</DEVINFO>\r\n</DATAROOT>\r\n";
    XmlDocument document;
    ASSERT_TRUE(document.LoadText(text).Clean());
    XmlNodeRef devices = Devices(document);
    XmlVerbatim verbatim = XmlVerbatim::Find(document.Text(), devices, XmlLayout::Indented, XmlLineEnd::CrLf);
    // the first, and the sixth up to its CR LF, which the text does not have
    EXPECT_EQ(verbatim.Count(), 1u);
    EXPECT_EQ(Write(document.Root(), &verbatim), Write(document.Root()));
    EXPECT_EQ(Write(document.Root(), &verbatim, XmlLayout::Indented, XmlLineEnd::Lf),
              Write(document.Root(), nullptr, XmlLayout::Indented, XmlLineEnd::Lf));
    EXPECT_EQ(Write(document.Root(), &verbatim, XmlLayout::Compact),
              Write(document.Root(), nullptr, XmlLayout::Compact));
    // the list written on its own stands less deep
    EXPECT_EQ(Write(devices, &verbatim), Write(devices));
}

// The same records hold another tree once the document reads another text: what was found for the first tree
// is not taken for the second.
TEST(XmlVerbatim, FindingsDoNotOutliveTheirTree) {
    XmlDocument document;
    ASSERT_TRUE(document.LoadText(OwnLayout(5)).Clean());
    XmlVerbatim verbatim = XmlVerbatim::Find(document.Text(), Devices(document), XmlLayout::Indented, XmlLineEnd::CrLf);
    ASSERT_EQ(verbatim.Count(), 5u);
    std::string other = OwnLayout(5, 3);
    ASSERT_TRUE(document.LoadText(other).Clean());
    EXPECT_EQ(Write(document.Root(), &verbatim), other);

    XmlVerbatim none = XmlVerbatim::Find("", Devices(document), XmlLayout::Indented, XmlLineEnd::CrLf);
    EXPECT_EQ(none.Count(), 0u);
}

}  // namespace
}  // namespace vantrel
