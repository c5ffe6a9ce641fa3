#include <gtest/gtest.h>

#include <string>

#include "xml/xml_document.h"
#include "xml/xml_node_ref.h"
#include "xml/xml_writer.h"

namespace vantrel {
namespace {

constexpr int kDepth = 200000;

// A hostile file decides the depth; nothing may recurse per level.
TEST(XmlDepth, DeepDocumentIsParsedSearchedWrittenAndDestroyed) {
    std::string text;
    text.reserve(kDepth * 8 + 16);
    for (int i = 0; i < kDepth; ++i) text += "<a>";
    text += "<leaf/>";
    for (int i = 0; i < kDepth; ++i) text += "</a>";

    auto* document = new XmlDocument();
    XmlLoadResult report = document->LoadText(text);
    EXPECT_TRUE(report.Clean()) << report.problem;
    EXPECT_EQ(report.depth, static_cast<std::uint32_t>(kDepth + 1)) << "the store refuses to write past 256";
    XmlNodeRef leaf = document->Root().FindDescendant("leaf");
    ASSERT_TRUE(leaf.IsValid());
    int depth = 0;
    for (XmlNodeRef n = leaf.Parent(); n.IsValid() && n.Kind() == XmlNodeKind::Element; n = n.Parent()) ++depth;
    EXPECT_EQ(depth, kDepth);
    EXPECT_FALSE(document->Root().FindDescendant("missing").IsValid());
    EXPECT_EQ(XmlWriteToString(document->Root(), XmlLayout::Compact), text);

    // a detached deep subtree is destroyed by the walk, not by dropping the arena
    XmlNodeRef top = document->Root().Child(0);
    top.RemoveChild(0);
    EXPECT_EQ(top.ChildCount(), 0u);
    delete document;

    // cut off: every level is still open, and the report says so without walking the tree again
    XmlDocument cut;
    report = cut.LoadText(text.substr(0, kDepth * 3));
    EXPECT_EQ(report.damage, XmlDamage::UnclosedElement);
    EXPECT_EQ(report.depth, static_cast<std::uint32_t>(kDepth));
}

TEST(XmlDepth, NestedDoctypesAreBounded) {
    constexpr int kNesting = 100000;
    std::string text;
    for (int i = 0; i < kNesting; ++i) text += "<!DOCTYPE r [";
    for (int i = 0; i < kNesting; ++i) text += "]>";
    text += "<r/>";
    XmlDocument document;
    document.SetParseOptions(XmlParseOptions::AllOptions & ~XmlParseOptions::StopAfterInternalSubset);
    document.LoadText(text);
    int levels = 0;
    XmlNodeRef n = document.Root();
    while (n.ChildCount() > 0 && n.Child(0).Kind() == XmlNodeKind::Doctype) {
        n = n.Child(0);
        ++levels;
    }
    EXPECT_EQ(levels, kMaxDoctypeNesting);
    EXPECT_TRUE(document.Root().Child(document.Root().ChildCount() - 1).NameIs("r"));
    // the outermost subset spans every inner "]" that a nested parse set to NUL for a while
    const std::size_t open = 13;  // "<!DOCTYPE r ["
    const std::size_t outerEnd = kNesting * open + (kNesting - 1) * 2;
    EXPECT_EQ(document.Root().Child(0).ValueView(), text.substr(open, outerEnd - open));
}

}  // namespace
}  // namespace vantrel
