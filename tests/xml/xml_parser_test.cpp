#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "xml/xml_document.h"
#include "xml/xml_node_ref.h"
#include "xml/xml_writer.h"
#include "xml_test_util.h"

namespace vantrel {
namespace {

using test::ParseAndDescribe;

struct ParseCase {
    const char* name;
    const char* input;
    const char* tree;
};

// The tolerant state machine on well-formed and odd input, with AllOptions (as the store parses).
TEST(XmlParse, StateMachineCases) {
    const ParseCase cases[] = {
        {"empty element, both quote kinds", "<DEV a='x\"y' b=\"p'q\"/>", "(E:DEV[a=x\"y,b=p'q])"},
        {"valueless then valued", "<a x y=\"1\"/>", "(E:a[x,y=1])"},
        {"equals without quote", "<a x=y z=\"1\"/>", "(E:a[x,y,z=1])"},
        // the byte after a valueless name is stepped over unexamined, so ">" does not end the tag
        {"valueless swallows the closing bracket", "<a x>b c</a>", "(E:a[x,b,c])"},
        {"white space before the bracket", "<a x >b</a>", "(E:a[x](T'b'))"},
        {"entity references stay", "<a v=\"&amp;&#65;\">&lt;x&gt;</a>", "(E:a[v=&amp;&#65;](T'&lt;x&gt;'))"},
        {"wrong end tags still pop", "<a><b></a></b><c/>", "(E:a(E:b) E:c)"},
        {"extra end tag at the root", "</x><a/>", "(E:a)"},
        {"declaration", "<?xml version=\"1.0\" encoding=\"GB2312\"?><r/>", "(?xml[version=1.0,encoding=GB2312] E:r)"},
        {"declaration, space before ?>", "<?xml version=\"1.0\" encoding=\"x\" ?>\r\n<r/>",
         "(?xml[version=1.0,encoding=x] E:r)"},
        {"bare declaration", "<?pi?><r/>", "(?pi E:r)"},
        {"declaration closed by > alone keeps no children", "<?xml v=\"1\"><r/><?pi?>", "(?xml[v=1] E:r ?pi)"},
        {"declaration without a later ? stops", "<?xml v=\"1\"><r/>", ""},
        {"doctype without subset", "<!DOCTYPE r SYSTEM \"r.dtd\"><r/>", "(!DOCTYPE[r=r,SYSTEM=SYSTEM,~=r.dtd] E:r)"},
        {"doctype subset parsed, then stop",
         "<!DOCTYPE r [<!ENTITY e \"a>b\"><!ELEMENT r (#PCDATA)><!ATTLIST r a CDATA #IMPLIED>"
         "<!NOTATION n SYSTEM 'n'><!FOO x y>]><r/>",
         "(!DOCTYPE[r=r](ENTITY:e'\"a>b\"' ELEMENT:r'(#PCDATA)' ATTLIST:r'a CDATA #IMPLIED' NOTATION:n'SYSTEM 'n'' "
         "ENTITY:x'y')'<!ENTITY e \"a>b\"><!ELEMENT r (#PCDATA)><!ATTLIST r a CDATA #IMPLIED><!NOTATION n SYSTEM "
         "'n'><!FOO x y>')"},
        {"parameter entity name keeps % and space", "<!DOCTYPE r [<!ENTITY % pe \"v\">]>",
         "(!DOCTYPE[r=r](ENTITY:% pe'\"v\"')'<!ENTITY % pe \"v\">')"},
        {"mixed: text before an end tag", "<a>x<b>y</b>z</a>", "(E:a(T'x' E:b(T'y') T'z'))"},
        {"mixed: end tag after start tag drops text", "<a><b></b>lost<c/></a>", "(E:a(E:b E:c))"},
        {"mixed: empty tag without attributes drops text", "<a><b/>lost<c/></a>", "(E:a(E:b E:c))"},
        {"mixed: empty tag with attributes keeps text", "<a><b x=\"1\"/>kept<c/></a>", "(E:a(E:b[x=1] T'kept' E:c))"},
        {"mixed: text after comment and section", "<a><!--c-->t1<![CDATA[d]]>t2</a>", "(E:a(C'c' T't1' D'd' T't2'))"},
        {"top-level text after a declaration", "<?x?>hello<r/>", "(?x T'hello' E:r)"},
        {"trimming", "<a v=\"  p q \"><!--  c  --><![CDATA[ \t d \n]]>text  \r\n</a>",
         "(E:a[v=p q](C'c' D'd' T'text'))"},
        {"white-space-only values trim to empty", "<a v=\"   \"><!--   --></a>", "(E:a[v=](C''))"},
        {"white space on one edge of a value", "<a v=\" x\" w=\"y\t\" z=\"\"/>", "(E:a[v=x,w=y,z=])"},
        {"values longer than a short look, one edge spaced", "<a v=\"0123456789abcdefXYZ\" w=\"0123456789abcdef \"/>",
         "(E:a[v=0123456789abcdefXYZ,w=0123456789abcdef])"},
        {"attributes apart by more than one space", "<a x=\"1\"  y=\"2\"\tz=\"3\"\r\n w=\"4\" />",
         "(E:a[x=1,y=2,z=3,w=4])"},
        {"include section", "<![INCLUDE[ <x> ]]><r/>", "(I'<x>' E:r)"},
        {"unknown bang markup is skipped", "<!-x --><![FOO[<r/>", "(E:r)"},
        {"keywords are case-sensitive", "<!doctype r><![cdata[x]]><r/>", "(ENTITY:r'' E:r)"},
    };
    for (const ParseCase& c : cases) EXPECT_EQ(ParseAndDescribe(c.input), c.tree) << c.name;
}

// The loop that reads a database's usual lines hands anything else to the state machine where it stands: end
// tags that share a prefix with the open element, cut-off names, odd spacing and markup between usual lines.
TEST(XmlParse, UsualLinesHandOverUnusualMarkupWhereItStands) {
    struct Case {
        const char* input;
        XmlDamage damage;
        std::uint64_t offset;
        const char* tree;
    };
    const Case cases[] = {
        {"<a><ab></a></ab>", XmlDamage::MismatchedEndTag, 7, "(E:a(E:ab))"},
        {"<ab><a></ab></a>", XmlDamage::MismatchedEndTag, 7, "(E:ab(E:a))"},
        {"<abc></ab", XmlDamage::MismatchedEndTag, 5, "(E:abc)"},
        {"<abc></abc", XmlDamage::CutOff, 5, "(E:abc)"},
        {"<r><a></r >", XmlDamage::MismatchedEndTag, 6, "(E:r(E:a))"},
        {"<r>\r\n\t<a x=\"1\"/>\r\n\t<!-- c -->\r\n\t<b y=\"2\">\r\n\t</b >\r\n</r>", XmlDamage::None, 0,
         "(E:r(E:a[x=1] C'c' E:b[y=2]))"},
        {"<r><a x=\"1\"  y=\"2\"/>t<b/>u</r>", XmlDamage::StrayText, 25, "(E:r(E:a[x=1,y=2] T't' E:b))"},
        {"<r><a x=\"1\" y/><b/></r>", XmlDamage::BrokenAttribute, 12, "(E:r(E:a[x=1,y](E:b)))"},
        {"<r><a x=\"1\"z=\"2\"/></r>", XmlDamage::BrokenAttribute, 11, "(E:r(E:a[x=1,z=2]))"},
        {"<r><a\tx='1'/></r>", XmlDamage::None, 0, "(E:r(E:a[x=1]))"},
    };
    for (const Case& c : cases) {
        XmlDocument document;
        XmlLoadResult result = document.LoadText(c.input);
        EXPECT_EQ(result.damage, c.damage) << c.input << ": " << result.problem;
        EXPECT_EQ(result.problemOffset, c.offset) << c.input;
        EXPECT_EQ(test::DescribeNode(document.Root()), c.tree) << c.input;
    }
}

TEST(XmlParse, OptionsClearedSkipConstructs) {
    const char* input = "<?xml v=\"1\"?><!DOCTYPE r [<!ENTITY e 'v'>]><!-- c --><r><![CDATA[ d ]]> t </r>";
    EXPECT_EQ(ParseAndDescribe(input, 0), "(E:r(T't '))");
    // without stopping, what follows the subset is parsed; without parsing, the subset stays raw and trimmed
    EXPECT_EQ(ParseAndDescribe("<!DOCTYPE r [ <!ENTITY e 'v'> ]><r/>",
                               XmlParseOptions::KeepDtd | XmlParseOptions::TrimInternalSubset),
              "(!DOCTYPE[r=r]'<!ENTITY e 'v'>' E:r)");
    EXPECT_EQ(ParseAndDescribe("<!DOCTYPE r [<!ENTITY e 'v'>]><r/>",
                               XmlParseOptions::KeepDtd | XmlParseOptions::ParseInternalSubset),
              "(!DOCTYPE[r=r](ENTITY:e''v'')'<!ENTITY e 'v'>' E:r)");
}

// Every prefix of a document that uses each construct parses (under ASan: without reading past the end)
// and keeps what was complete; spans whose end is missing keep length 0.
TEST(XmlParse, TextEndingInsideEveryConstruct) {
    const std::string full =
        "<?xml version=\"1.0\"?><!DOCTYPE r PUBLIC 'p' \"s\" [<!ENTITY % pe 'x>y'><!ELEMENT r ANY>]>"
        "<r a='1' b c=d><!-- c --><![CDATA[ d ]]><![INCLUDE[ i ]]>text<e/><f g=\"h\"/>tail</r>";
    for (std::size_t length = 0; length <= full.size(); ++length) {
        XmlDocument document;
        document.SetParseOptions(XmlParseOptions::AllOptions & ~XmlParseOptions::StopAfterInternalSubset);
        XmlLoadResult report = document.LoadText(full.substr(0, length));
        ASSERT_EQ(document.Root().Kind(), XmlNodeKind::Document);
        EXPECT_EQ(report.damaged, length > 0) << length;  // the whole text has valueless attributes too
    }
    EXPECT_EQ(ParseAndDescribe("<a>text"), "(E:a(T''))");
    EXPECT_EQ(ParseAndDescribe("<a v=\"abc"), "(E:a[v=])");
    EXPECT_EQ(ParseAndDescribe("<a><!-- open"), "(E:a(C''))");
    EXPECT_EQ(ParseAndDescribe("<!DOCTYPE r [<!ENTITY e 'v'>"), "(!DOCTYPE[r=r]'')");
    EXPECT_EQ(ParseAndDescribe("<abc"), "(E:abc)");
}

// Names and values point into the loaded text: a megabyte value costs the tree nothing, until it is set.
TEST(XmlParse, CopiesNoText) {
    const std::string big(1 << 20, 'v');
    XmlDocument document;
    document.LoadText("<DEV name=\"" + big + "\"><!--" + big + "-->" + big + "</DEV>");
    XmlNodeRef dev = document.Root().Child(0);
    ASSERT_EQ(dev.Attribute("name").ValueView().size(), big.size());
    ASSERT_EQ(dev.ChildCount(), 2u);
    EXPECT_LT(document.TreeBytes(), 64u * 1024);
    ASSERT_TRUE(dev.Attribute("name").SetValue(big.c_str()));
    EXPECT_GT(document.TreeBytes(), big.size());
}

TEST(XmlParse, GrowsArraysKeepingOrder) {
    std::string text = "<r";
    for (int i = 0; i < 100; ++i) text += " a" + std::to_string(i) + "=\"" + std::to_string(i) + "\"";
    text += ">";
    for (int i = 0; i < 1000; ++i) text += "<c n=\"" + std::to_string(i) + "\"/>";
    text += "</r>";
    XmlDocument document;
    document.LoadText(text);
    XmlNodeRef r = document.Root().Child(0);
    ASSERT_EQ(r.AttributeCount(), 100u);
    ASSERT_EQ(r.ChildCount(), 1000u);
    for (std::uint32_t i = 0; i < 100; ++i) EXPECT_EQ(r.AttributeAt(i).ValueAsUnsigned(), i);
    for (std::uint32_t i = 0; i < 1000; ++i) {
        ASSERT_EQ(r.Child(i).Attribute("n").ValueAsUnsigned(), i);
        ASSERT_EQ(r.Child(i).Parent(), r);
    }
}

// Found by the parser fuzzer once freed blocks were poisoned: a long attribute list kept in place was given
// back later by a rounded-up size that reached into the records after it. The same steps as the fuzzer's;
// the sanitizer run reports the overlap, without the sanitizer the rounded block is handed out again.
TEST(XmlParse, LongAttributeListGivenBackLeavesItsNeighboursAlone) {
    const std::string text(
        "\xff\x3c\x02\x3c\xef\x02\xfe\x01\x0c\x3c\xf1\x07\xfb\xfb\x3c\xef\xff\x20\xc6\x11\xfb\x02\xf0\xff"
        "\x11\xff\x20\x11\xff\x20\xfb\x3c\xef\x02\xfb\x3c\xef\xff\x20\xc6\x11\xfb\x02\xf0\xff\x11\xff\x20"
        "\x11\xff\x20\xfb\x3c\xef\x02\xf0\x40\xff\x11\xff\x3d\xff\x11\xf0\x40\xff\x11\xff\x3d\xff\x11\xff"
        "\x20\xc6\x11\xfb\x3c\xef\x02\xf0\xfb\x3c\xef\x02\xf0\xff\x11\xff\x3d\xff\x11\xff\x20\xc6\x11\xfb"
        "\x3c\xef\x02\xf0\xff\xf0\xff\x3c\x42\x3c\xef\x02\xfe\x01\x2a\xfb\x3c\x41\x29\x00",
        116);
    XmlDocument document;
    document.SetParseOptions(0xf0fbu);
    document.LoadText(text);
    const std::string once = XmlWriteToString(document.Root(), XmlLayout::Indented);
    XmlDocument again;
    again.LoadText(once);
    XmlNodeRef section = EnsureSection(again.Root(), "DEVINFO");
    XmlNodeRef dev = section.AppendChild(XmlNodeKind::Element);
    dev.SetName("DEV");
    dev.Attribute("id").SetUnsigned(section.Child(0).Attribute("id").ValueAsUnsigned());
    section.Child(0).Attribute("name").ValueView();
    if (again.Root().ChildCount() > 0) {
        again.Root().RemoveChild(0);
    }
    EXPECT_FALSE(XmlWriteToString(again.Root(), XmlLayout::Compact).empty() && again.Root().ChildCount() > 0);
}

}  // namespace
}  // namespace vantrel
