#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "xml/xml_document.h"
#include "xml/xml_node_filter.h"
#include "xml/xml_node_ref.h"
#include "xml/xml_writer.h"

namespace vantrel {
namespace {

std::string Compact(const XmlDocument& document) {
    return XmlWriteToString(document.Root(), XmlLayout::Compact);
}

TEST(XmlAccess, EmptyHandlesGiveEmptyResults) {
    XmlNodeRef none;
    EXPECT_FALSE(none.IsValid());
    EXPECT_EQ(none.ChildCount(), 0u);
    EXPECT_FALSE(none.Child(0).IsValid());
    EXPECT_FALSE(none.AppendChild(XmlNodeKind::Element).IsValid());
    EXPECT_FALSE(none.FindDescendant("a").IsValid());
    EXPECT_FALSE(none.FindChildByName("a").IsValid());
    EXPECT_FALSE(none.NameIs(""));
    EXPECT_FALSE(none.SetName("a"));
    EXPECT_FALSE(none.Attribute("a").IsValid());
    EXPECT_FALSE(EnsureSection(none, "DEVINFO").IsValid());
    none.RemoveChild(0);
    XmlAttributeRef attribute = none.Attribute("a");
    EXPECT_EQ(attribute.Value(), "");
    EXPECT_EQ(attribute.ValueAsUnsigned(), 0u);
    EXPECT_FALSE(attribute.SetValue("x"));
    EXPECT_FALSE(attribute.SetUnsigned(5).IsValid());

    XmlNode noneNode;  // kind None counts as empty too
    EXPECT_FALSE(XmlNodeRef(&noneNode).IsValid());
}

TEST(XmlAccess, ChildAtCountIsEmpty) {
    XmlDocument document;
    document.LoadText("<a><b/><c/></a>");
    XmlNodeRef a = document.Root().Child(0);
    EXPECT_TRUE(a.Child(1).NameIs("c"));
    EXPECT_FALSE(a.Child(2).IsValid());
}

TEST(XmlAccess, AttributeLookupCreatesEmpty) {
    XmlDocument document;
    document.LoadText("<DEV host=\"10.0.0.1\"/>");
    XmlNodeRef dev = document.Root().Child(0);
    EXPECT_EQ(dev.Attribute("host").Value(), "10.0.0.1");
    EXPECT_EQ(dev.Attribute("DDNSHost").Value(), "");
    EXPECT_EQ(dev.AttributeCount(), 2u);
    EXPECT_EQ(dev.Attribute("DDNSHost").Get(), dev.AttributeAt(1).Get()) << "looked up again, not added twice";
    EXPECT_EQ(Compact(document), "<DEV host=\"10.0.0.1\" DDNSHost=\"\"/>");
    EXPECT_FALSE(dev.FindAttribute("port").IsValid());
    EXPECT_EQ(dev.AttributeCount(), 2u);
}

TEST(XmlAccess, FindChildByNameMarksEveryChildItExamines) {
    XmlDocument document;
    document.LoadText("<ORGINFO><ORG id=\"1\"/><ORG name=\"East\"/><ORG id=\"3\"/></ORGINFO>");
    XmlNodeRef orgs = document.Root().Child(0);
    EXPECT_EQ(orgs.FindChildByName("East"), orgs.Child(1));
    EXPECT_EQ(Compact(document), "<ORGINFO><ORG id=\"1\" name=\"\"/><ORG name=\"East\"/><ORG id=\"3\"/></ORGINFO>");
    EXPECT_FALSE(orgs.FindChildByName("West").IsValid());
    EXPECT_EQ(Compact(document),
              "<ORGINFO><ORG id=\"1\" name=\"\"/><ORG name=\"East\"/><ORG id=\"3\" name=\"\"/></ORGINFO>");
    // exact comparison: a prefix or a longer text is no match
    EXPECT_FALSE(orgs.FindChildByName("Eas").IsValid());
    EXPECT_FALSE(orgs.FindChildByName("East\"").IsValid());
    EXPECT_EQ(orgs.FindChildByName(""), orgs.Child(0));
}

TEST(XmlAccess, FindDescendantIsDepthFirstInDocumentOrder) {
    XmlDocument document;
    document.LoadText("<DEVINFO><X><Y><DEV id=\"deep\"/></Y></X><DEV id=\"direct\"/></DEVINFO>");
    XmlNodeRef devinfo = document.Root().Child(0);
    EXPECT_EQ(devinfo.FindDescendant("DEV").Attribute("id").Value(), "deep");
    EXPECT_FALSE(devinfo.FindDescendant("DEVINFO").IsValid()) << "the node itself is not examined";
    EXPECT_FALSE(devinfo.FindDescendant("DE").IsValid());
    EXPECT_FALSE(devinfo.FindDescendant(nullptr).IsValid());
}

TEST(XmlAccess, EnsureSectionCreatesOnceAndFindsExisting) {
    XmlDocument document;
    document.Reset();
    XmlNodeRef section = EnsureSection(document.Root(), "DEVINFO");
    ASSERT_TRUE(section.NameIs("DEVINFO"));
    EXPECT_EQ(EnsureSection(section, "DEVINFO"), section) << "from any node of the document";
    EXPECT_EQ(Compact(document), "<DATAROOT><DEVINFO/></DATAROOT>");
    XmlNodeRef orgs = EnsureSection(document.Root(), "ORGINFO");
    EXPECT_EQ(orgs.Parent().Child(1), orgs);
    EXPECT_EQ(Compact(document), "<DATAROOT><DEVINFO/><ORGINFO/></DATAROOT>");

    XmlDocument nested;
    nested.LoadText("<?xml v=\"1\"?><X><DATAROOT><Y><GLOBAL index=\"4\"/></Y></DATAROOT></X>");
    EXPECT_EQ(EnsureSection(nested.Root(), "GLOBAL").Attribute("index").ValueAsUnsigned(), 4u);
    EXPECT_EQ(nested.Root().ChildCount(), 2u);
}

TEST(XmlAccess, EnsureSectionOnADetachedSubtreeGivesEmpty) {
    XmlNode* lone = XmlNewNode(XmlNodeKind::Element);
    lone->parent = lone;  // its own root, but no Document: must not loop or create anything
    EXPECT_FALSE(EnsureSection(XmlNodeRef(lone), "DEVINFO").IsValid());
    EXPECT_EQ(lone->childCount, 0u);
    XmlDestroyTree(lone);
}

TEST(XmlAccess, NumbersAreWrittenAndReadAsDecimal) {
    XmlDocument document;
    document.Reset();
    XmlNodeRef e = document.Root().AppendChild(XmlNodeKind::Element);
    e.SetName("e");
    XmlAttributeRef a = e.Attribute("v");
    EXPECT_EQ(a.SetUnsigned(0).Value(), "0");
    EXPECT_EQ(a.SetUnsigned(4294967295u).Value(), "4294967295");
    EXPECT_EQ(a.SetUnsigned8(300).Value(), "44");
    EXPECT_EQ(a.SetUnsigned16(70000).Value(), "4464");

    const struct {
        const char* text;
        std::uint32_t number;
    } reads[] = {
        {"12abc", 12},
        {" 7", 7},
        {"", 0},
        {"-1", 4294967295u},
        {"+5", 5},
        {"abc", 0},
        {"4294967295", 4294967295u},
        {"4294967296", 4294967295u},
        {"99999999999999999999", 4294967295u},
        {"\t\n 0012", 12},
        {"-", 0},
    };
    for (const auto& read : reads) {
        a.SetValue(read.text);
        EXPECT_EQ(a.ValueAsUnsigned(), read.number) << read.text;
    }
    // only the first 255 bytes count
    std::string longText(255, '0');
    a.SetValue((longText + "9").c_str());
    EXPECT_EQ(a.ValueAsUnsigned(), 0u);
}

TEST(XmlAccess, NameIsComparesTheFirst255Bytes) {
    XmlDocument document;
    document.Reset();
    XmlNodeRef e = document.Root().AppendChild(XmlNodeKind::Element);
    std::string longName(300, 'n');
    ASSERT_TRUE(e.SetName(longName.c_str()));
    EXPECT_TRUE(e.NameIs(std::string(255, 'n').c_str()));
    EXPECT_FALSE(e.NameIs(longName.c_str()));
    XmlNodeRef nameless = document.Root().AppendChild(XmlNodeKind::Element);
    EXPECT_TRUE(nameless.NameIs(""));
    EXPECT_FALSE(nameless.NameIs(nullptr));
}

TEST(XmlAccess, SetValueReplacesBorrowedWithoutTouchingTheText) {
    XmlDocument document;
    document.LoadText("<DEV name=\"Gate\"/>");
    std::string before = document.text;
    XmlAttributeRef name = document.Root().Child(0).Attribute("name");
    ASSERT_TRUE(name.SetValue("A much longer device name"));
    EXPECT_EQ(document.text, before);
    EXPECT_EQ(name.Get()->valueBorrowed, 0u);
    // replacing an owned value by text taken from itself
    ASSERT_TRUE(name.SetValue(name.Get()->value + 2));
    EXPECT_EQ(name.Value(), "much longer device name");
    EXPECT_FALSE(name.SetValue(nullptr));
}

TEST(XmlAccess, AppendAndRemoveKeepOrderAndHandles) {
    XmlDocument document;
    document.Reset();
    XmlNodeRef root = document.Root();
    XmlNodeRef list = root.AppendChild(XmlNodeKind::Element);
    list.SetName("L");
    XmlAttributeRef first = list.Attribute("a0");
    for (int i = 0; i < 50; ++i) {
        XmlNodeRef item = list.AppendChild(XmlNodeKind::Element);
        item.SetName("I");
        item.Attribute("n").SetUnsigned(static_cast<std::uint32_t>(i));
        item.AppendChild(XmlNodeKind::Element).SetName("sub");
        list.Attribute(("a" + std::to_string(i + 1)).c_str());
    }
    EXPECT_EQ(first.Get(), list.AttributeAt(0).Get()) << "attribute records do not move";
    XmlNodeRef kept = list.Child(10);
    list.RemoveChild(3);
    list.RemoveChild(0);
    list.RemoveChild(48);  // out of range now
    ASSERT_EQ(list.ChildCount(), 48u);
    EXPECT_EQ(list.Child(8), kept);
    const std::uint32_t expected[] = {1, 2, 4, 5, 6};
    for (std::uint32_t i = 0; i < 5; ++i) EXPECT_EQ(list.Child(i).Attribute("n").ValueAsUnsigned(), expected[i]);
    // only Elements and the root take children
    XmlNodeRef text = list.AppendChild(XmlNodeKind::Text);
    EXPECT_FALSE(text.AppendChild(XmlNodeKind::Element).IsValid());
    // freed memory is reused: removing and adding again does not grow the arena
    std::uint64_t before = XmlTreeMemory(document.root);
    for (int round = 0; round < 100; ++round) {
        XmlNodeRef extra = list.AppendChild(XmlNodeKind::Element);
        extra.SetName("extra");
        extra.Attribute("v").SetValue("some value");
        list.RemoveChild(list.ChildCount() - 1);
    }
    EXPECT_LE(XmlTreeMemory(document.root), before + 4096);
}

TEST(XmlAccess, ViewsAcceptTheirElementName) {
    XmlDocument document;
    document.LoadText("<DEVINFO><DEV/><IMG/></DEVINFO>");
    XmlDevInfoView devinfo(document.Root().Child(0));
    EXPECT_TRUE(devinfo.Accepts());
    XmlDevView dev(devinfo.Child(0));
    EXPECT_TRUE(dev.Accepts());
    dev.Assign(devinfo.Child(1));
    EXPECT_FALSE(dev.Accepts());
    XmlNamedFilter img("IMG", devinfo.Child(1));
    EXPECT_TRUE(img.Accepts());
    XmlNodeFilter any(devinfo.Child(1));
    EXPECT_TRUE(any.Accepts());
    any.Reset();
    EXPECT_FALSE(any.Accepts());
    EXPECT_FALSE(XmlDevView().Accepts());
}

}  // namespace
}  // namespace vantrel
