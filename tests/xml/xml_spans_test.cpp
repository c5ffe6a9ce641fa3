// Attribute spans are places in the parsed text or numbered slots of owned copies; the arena makes its chunks
// present a step at a time. These cases mix borrowed and owned spans, reuse slots, and read attribute lists that
// reach past a step, checking every value afterwards.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "xml/xml_document.h"
#include "xml/xml_node_ref.h"
#include "xml/xml_writer.h"
#include "xml_node.h"
#include "xml_parser.h"
#include "xml_records.h"
#include "xml_test_util.h"

namespace vantrel {
namespace {

std::string Compact(XmlNodeRef node) {
    return XmlWriteToString(node, XmlLayout::Compact);
}

// Owned copies come and go in any order while borrowed ones stay: no slot may end up shared by two live spans.
// The same edits on a plain list tell what each element must hold.
TEST(XmlSpans, OwnedCopiesComeAndGoWithoutMixingUp) {
    XmlDocument document;
    document.LoadText("<R><E a=\"1\" b=\"2\"/><E a=\"3\" b=\"4\"/></R>");
    XmlNodeRef r = document.Root().Child(0);
    std::vector<std::pair<std::string, std::string>> model{{"1", "2"}, {"3", "4"}};
    for (int i = 0; i < 40; ++i) {
        XmlNodeRef e = r.AppendChild(XmlNodeKind::Element);
        ASSERT_TRUE(e.SetName("E"));
        e.Attribute("a").SetUnsigned(static_cast<std::uint32_t>(100 + i));
        e.AddAttribute("b", ("v" + std::to_string(i)).c_str());
        model.emplace_back(std::to_string(100 + i), "v" + std::to_string(i));
    }
    // free slots in the middle, then take them again for other values
    for (std::uint32_t i = 2; i < r.ChildCount(); i += 3) {
        r.RemoveChild(i);
        model.erase(model.begin() + i);
    }
    for (std::uint32_t i = 0; i < r.ChildCount(); i += 2) {
        ASSERT_TRUE(r.Child(i).Attribute("b").SetValue(("again" + std::to_string(i)).c_str()));
        model[i].second = "again" + std::to_string(i);
    }
    ASSERT_TRUE(r.Child(1).Attribute("a").SetValue("x"));
    ASSERT_TRUE(r.Child(1).Attribute("a").SetValue("y"));
    model[1].first = "y";

    ASSERT_EQ(r.ChildCount(), model.size());
    for (std::uint32_t i = 0; i < r.ChildCount(); ++i) {
        EXPECT_EQ(r.Child(i).Attribute("a").Value(), model[i].first) << i;
        EXPECT_EQ(r.Child(i).Attribute("b").Value(), model[i].second) << i;
    }
    // what is written is what the handles read
    XmlDocument reread;
    reread.LoadText(Compact(document.Root()));
    EXPECT_EQ(test::DescribeNode(reread.Root()), test::DescribeNode(document.Root()));
}

// Setting the same value over and over gives each old copy back: the tree does not grow with the edits.
TEST(XmlSpans, RepeatedEditsReuseTheirMemory) {
    XmlDocument document;
    document.LoadText("<E a=\"1\"/>");
    XmlAttributeRef a = document.Root().Child(0).Attribute("a");
    for (int i = 0; i < 100; ++i) a.SetUnsigned(static_cast<std::uint32_t>(i));
    std::uint64_t settled = document.TreeBytes();
    for (int i = 0; i < 100000; ++i) a.SetUnsigned(static_cast<std::uint32_t>(i));
    EXPECT_EQ(document.TreeBytes(), settled);
    EXPECT_EQ(a.ValueAsUnsigned(), 99999u);
}

// Attribute lists are read in place at the end of the arena's present part: lists that reach past it, and one
// long list larger than a whole step, keep every name and value.
TEST(XmlSpans, AttributeListsPastThePresentPart) {
    struct Case {
        const char* name;
        int elements;
        int attributes;
    };
    const Case cases[] = {
        {"many short lists", 30000, 7},
        {"lists of a few hundred", 300, 500},
        {"one list longer than a step", 1, 100000},
    };
    for (const Case& c : cases) {
        std::string text = "<R>";
        for (int e = 0; e < c.elements; ++e) {
            text += "<E";
            for (int a = 0; a < c.attributes; ++a)
                text += " n" + std::to_string(a) + "=\"" + std::to_string(e * 7 + a) + "\"";
            text += "/>";
        }
        text += "</R>";
        XmlDocument document;
        ASSERT_TRUE(document.LoadText(text).Clean()) << c.name;
        XmlNodeRef r = document.Root().Child(0);
        ASSERT_EQ(r.ChildCount(), static_cast<std::uint32_t>(c.elements)) << c.name;
        bool same = true;
        for (int e = 0; e < c.elements && same; ++e) {
            XmlNodeRef element = r.Child(static_cast<std::uint32_t>(e));
            same = element.AttributeCount() == static_cast<std::uint32_t>(c.attributes);
            for (int a = 0; a < c.attributes && same; ++a) {
                XmlAttributeRef attribute = element.AttributeAt(static_cast<std::uint32_t>(a));
                same = attribute.NameView() == "n" + std::to_string(a) &&
                       attribute.ValueView() == std::to_string(e * 7 + a);
            }
        }
        EXPECT_TRUE(same) << c.name;
        EXPECT_EQ(Compact(document.Root()), text) << c.name;
    }
}

// A document loaded again reuses its arena, present as far as the last tree took it: a larger and then a
// smaller text each give the tree a fresh document gives.
TEST(XmlSpans, LoadingAgainGivesWhatAFreshDocumentGives) {
    auto database = [](int devices) {
        std::string text = "<DATAROOT><DEVINFO>";
        for (int d = 0; d < devices; ++d)
            text += "<DEV id=\"" + std::to_string(d) + "\" name=\"Device" + std::to_string(d) + "\"/>";
        return text + "</DEVINFO></DATAROOT>";
    };
    XmlDocument reused;
    for (int devices : {10, 40000, 3, 25000}) {
        std::string text = database(devices);
        ASSERT_TRUE(reused.LoadText(text).Clean());
        XmlDocument fresh;
        ASSERT_TRUE(fresh.LoadText(text).Clean());
        EXPECT_EQ(Compact(reused.Root()), Compact(fresh.Root())) << devices;
        EXPECT_EQ(Compact(reused.Root()), text) << devices;
    }
}

// Attribute spans are places in the one text a tree was parsed from: another text is not read into it.
TEST(XmlSpans, ATreeTakesOneText) {
    std::string first = "<a x=\"1\"/>";
    std::string second = "<b y=\"2\"/>";
    XmlNode* root = XmlNewNode(XmlNodeKind::Document);
    ASSERT_NE(root, nullptr);
    root->parent = root;
    XmlParse(first.data(), root, 4, XmlParseOptions::AllOptions);
    XmlParseResult other = XmlParse(second.data(), root, 4, XmlParseOptions::AllOptions);
    EXPECT_EQ(other.stop, second.data());
    EXPECT_EQ(test::DescribeNode(XmlRecords::RefOf(root)), "(E:a[x=1])");
    XmlDestroyTree(root);
}

}  // namespace
}  // namespace vantrel
