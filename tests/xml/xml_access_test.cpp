#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <unordered_set>
#include <vector>

#include "xml/xml_document.h"
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
    EXPECT_FALSE(attribute.HasValue());
    EXPECT_FALSE(attribute.ValueIs(""));
    EXPECT_EQ(none.IndexInParent(), kXmlNoIndex);
    EXPECT_FALSE(none.IsBelow(none));
    EXPECT_TRUE(attribute.ValueView().empty());
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
    EXPECT_EQ(dev.Attribute("DDNSHost"), dev.AttributeAt(1)) << "looked up again, not added twice";
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
    document.LoadText("<DEV name=\"Gate\" host=\"h\">Gate</DEV>");
    XmlAttributeRef name = document.Root().Child(0).Attribute("name");
    ASSERT_TRUE(name.SetValue("A much longer device name"));
    EXPECT_EQ(Compact(document), "<DEV name=\"A much longer device name\" host=\"h\">Gate</DEV>");
    // replacing an owned value by text taken from itself
    ASSERT_TRUE(name.SetValue(name.ValueView().data() + 2));
    EXPECT_EQ(name.Value(), "much longer device name");
    EXPECT_FALSE(name.SetValue(nullptr));
}

// Names and values set through handles are owned copies kept apart from the text: replacing one by a part of
// itself, or removing a node with or without them, leaves every other span as it was.
TEST(XmlAccess, NodeSpansSurviveReplacementAndRemoval) {
    XmlDocument document;
    ASSERT_TRUE(document.LoadText("<ROOT><FIRST>first text</FIRST><SECOND/></ROOT>").Clean());
    XmlNodeRef root = document.Root().Child(0);
    XmlNodeRef first = root.Child(0);
    XmlNodeRef text = first.Child(0);
    ASSERT_TRUE(first.SetName("THE FIRST"));
    ASSERT_TRUE(first.SetName(first.NameView().data() + 6));  // its own owned copy
    ASSERT_TRUE(text.SetValue("owned text"));
    ASSERT_TRUE(text.SetValue(text.ValueView().data() + 6));  // its own owned copy
    ASSERT_TRUE(root.Child(1).SetName("NEW"));
    XmlNodeRef nameless = root.AppendChild(XmlNodeKind::Element);
    EXPECT_FALSE(nameless.HasValue());
    EXPECT_EQ(nameless.NameView().data(), nullptr);
    XmlNodeRef added = root.AppendChild(XmlNodeKind::Element);
    ASSERT_TRUE(added.SetName("ADDED"));
    root.RemoveChild(2);  // nameless: owned spans that are none
    root.RemoveChild(1);  // the copy of "NEW" goes, and its slot is free again
    ASSERT_TRUE(root.AppendChild(XmlNodeKind::Element).SetName("LATER"));
    EXPECT_EQ(first.Name(), "RST");
    EXPECT_EQ(Compact(document), "<ROOT><RST>text</RST><ADDED/><LATER/></ROOT>");
}

TEST(XmlAccess, ValueViewsTellNoValueFromEmpty) {
    XmlDocument document;
    document.LoadText("<a bare empty=\"\" v='x\"y' n=\"12\"/>");
    XmlNodeRef a = document.Root().Child(0);
    XmlAttributeRef bare = a.FindAttribute("bare");
    XmlAttributeRef empty = a.FindAttribute("empty");
    XmlAttributeRef v = a.FindAttribute("v");
    EXPECT_FALSE(bare.HasValue());
    EXPECT_TRUE(bare.ValueIs("")) << "no value reads as the empty text";
    EXPECT_TRUE(empty.HasValue());
    EXPECT_TRUE(empty.ValueIs(""));
    EXPECT_FALSE(empty.ValueIs("x"));
    EXPECT_EQ(v.NameView(), "v");
    EXPECT_EQ(v.ValueView(), "x\"y");
    EXPECT_TRUE(v.ValueIs("x\"y"));
    EXPECT_FALSE(v.ValueIs("x\"")) << "a prefix is no match";
    EXPECT_FALSE(v.ValueIs("x\"yz"));
    EXPECT_EQ(a.NameView(), "a");
    EXPECT_FALSE(a.HasValue());
}

// A parsed value is borrowed from the text, where no terminator follows it: its view ends where the value
// ends, and a value set afterwards replaces it whole.
TEST(XmlAccess, BorrowedValueViewEndsWhereTheValueEnds) {
    XmlDocument document;
    document.LoadText("<e v=\"abc\" w=\"def\"/>");
    XmlAttributeRef v = document.Root().Child(0).FindAttribute("v");
    EXPECT_EQ(v.ValueView(), "abc");
    ASSERT_TRUE(v.SetValue("a longer value"));
    EXPECT_EQ(v.ValueView(), "a longer value");
    EXPECT_EQ(document.Root().Child(0).FindAttribute("w").ValueView(), "def");
}

// The store caches nodes (sections, an identifier index, a scan per device): a handle found by any path is
// the same key, and keeps being so while the tree grows.
TEST(XmlAccess, HandlesServeAsKeys) {
    XmlDocument document;
    document.LoadText("<DATAROOT><DEVINFO><DEV id=\"1\"/><DEV id=\"2\"/></DEVINFO><ORGINFO/></DATAROOT>");
    XmlNodeRef devinfo = EnsureSection(document.Root(), "DEVINFO");
    XmlNodeRef second = devinfo.Child(1);
    std::unordered_set<XmlNodeRef> seen{devinfo, second};
    std::map<XmlNodeRef, int> ids{{second, 2}};
    for (int i = 0; i < 100; ++i) devinfo.AppendChild(XmlNodeKind::Element).SetName("DEV");
    XmlNodeRef again = document.Root().FindDescendant("DEVINFO").Child(1);
    EXPECT_EQ(again, second);
    EXPECT_EQ(again.Hash(), second.Hash());
    EXPECT_EQ(seen.count(again), 1u);
    EXPECT_EQ(seen.count(devinfo.Child(0)), 0u);
    EXPECT_EQ(ids.at(again), 2);
    EXPECT_EQ(XmlNodeRef(), XmlNodeRef());
    EXPECT_NE(devinfo.Child(0), XmlNodeRef());
}

TEST(XmlAccess, PlaceInTheTree) {
    XmlDocument document;
    document.LoadText("<r><a><b><c/></b></a><d/><e/></r>");
    XmlNodeRef r = document.Root().Child(0);
    XmlNodeRef c = r.FindDescendant("c");
    XmlNodeRef e = r.FindDescendant("e");
    EXPECT_EQ(e.IndexInParent(), 2u);
    EXPECT_EQ(c.IndexInParent(), 0u);
    EXPECT_EQ(document.Root().IndexInParent(), kXmlNoIndex);
    EXPECT_TRUE(c.IsBelow(r));
    EXPECT_TRUE(c.IsBelow(document.Root()));
    EXPECT_FALSE(c.IsBelow(c)) << "not below itself";
    EXPECT_FALSE(c.IsBelow(e));
    EXPECT_FALSE(r.IsBelow(c));
    r.RemoveChild(0);
    EXPECT_EQ(e.IndexInParent(), 1u) << "later siblings move up";
}

TEST(XmlAccess, VisitDescendantsInDocumentOrderAndStopsEarly) {
    XmlDocument document;
    document.LoadText("<r><a><b x=\"1\"/>t</a><!--c--><d><e/></d></r>");
    std::vector<std::string> order;
    document.Root().Child(0).VisitDescendants([&](XmlNodeRef node) {
        order.push_back(node.Kind() == XmlNodeKind::Element ? node.Name() : node.Value());
        return true;
    });
    EXPECT_EQ(order, (std::vector<std::string>{"a", "b", "t", "c", "d", "e"}));
    int visited = 0;
    document.Root().VisitDescendants([&](XmlNodeRef node) {
        ++visited;
        return !node.NameIs("b");
    });
    EXPECT_EQ(visited, 3) << "r, a, b";
    XmlNodeRef().VisitDescendants([&](XmlNodeRef) { return ++visited > 0; });
    EXPECT_EQ(visited, 3);
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
    EXPECT_EQ(first, list.AttributeAt(0)) << "a handle outlives the attribute array's growth";
    EXPECT_EQ(first.NameView(), "a0");
    EXPECT_TRUE(first.SetValue("still here"));
    EXPECT_EQ(list.Attribute("a0").Value(), "still here");
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
    std::uint64_t before = document.TreeBytes();
    for (int round = 0; round < 100; ++round) {
        XmlNodeRef extra = list.AppendChild(XmlNodeKind::Element);
        extra.SetName("extra");
        extra.Attribute("v").SetValue("some value");
        list.RemoveChild(list.ChildCount() - 1);
    }
    EXPECT_LE(document.TreeBytes(), before + 4096);
}

#if defined(__SANITIZE_ADDRESS__)
// Under AddressSanitizer the arena poisons what a removed node gave back: a handle kept past the removal is
// caught at its first use instead of reading whatever the memory holds next.
TEST(XmlAccessDeathTest, HandleUsedAfterItsNodeWasRemovedIsCaught) {
    XmlDocument document;
    document.LoadText("<r><a x=\"1\"/><b/></r>");
    XmlNodeRef r = document.Root().Child(0);
    XmlNodeRef a = r.Child(0);
    r.RemoveChild(0);
    EXPECT_DEATH(a.FindAttribute("x").Value(), "use-after-poison");
}
#endif

}  // namespace
}  // namespace vantrel
