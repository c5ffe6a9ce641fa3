#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include <unistd.h>

#include "support/xml_database_text.h"
#include "xml/xml_document.h"
#include "xml/xml_node_ref.h"
#include "xml/xml_writer.h"
#include "xml_test_util.h"

namespace vantrel {
namespace {

// As the store parses: everything kept, and nothing after a DOCTYPE's subset left unread.
constexpr std::uint32_t kStoreOptions = XmlParseOptions::AllOptions & ~XmlParseOptions::StopAfterInternalSubset;

XmlLoadResult Check(const std::string& bytes, std::uint32_t options = kStoreOptions) {
    XmlDocument document;
    document.SetParseOptions(options);
    return document.LoadText(bytes);
}

// Well-formed XML and what this program writes load as clean, or the store would keep a backup of every file.
TEST(XmlDamage, WellFormedTextIsClean) {
    const char* clean[] = {
        "",
        " \r\n\t",
        "<a/>",
        "<a></a>",
        "<a >x</a >",
        "\xEF\xBB\xBF<a/>",  // UTF-8 byte-order mark
        "<?xml version=\"1.0\" encoding=\"GB2312\"?>\r\n<DATAROOT>\r\n\t<GLOBAL index=\"4\"/>\r\n</DATAROOT>\r\n",
        "<?xml version='1.0' ?><r/>",
        "<!-- before --><?pi?><r a='1' b = \"2\"\tc=\"&amp;&lt;\"/><!-- after --><?pi x=\"1\"?>\n",
        "<r><a>x<b>y</b>z</a><![CDATA[ <raw> ]]><!--c--><e f=\"g\"/>tail</r>",
        "<!DOCTYPE r SYSTEM \"r.dtd\"><r/>",
        "<!DOCTYPE r>\n<r/>",
        "<!DOCTYPE r [\n<!ENTITY e \"a>b\">\n<!ELEMENT r (#PCDATA)>\n<!ATTLIST r a CDATA #IMPLIED>\n]>\n<r>&e;</r>",
        "<r v='say \"hi\"' w=\"it's\"/>",
        "<r>\xE4\xB8\xAD\xE6\x96\x87</r>",
    };
    for (const char* text : clean) {
        XmlLoadResult report = Check(text);
        EXPECT_TRUE(report.Clean()) << text << ": " << report.problem << " at " << report.problemOffset;
        EXPECT_EQ(report.damage, XmlDamage::None) << text;
        EXPECT_TRUE(report.problem.empty()) << text;
    }
    XmlLoadResult database = Check(test::GenerateDatabaseText({50, 16, 8}));
    EXPECT_TRUE(database.Clean()) << database.problem << " at " << database.problemOffset;
}

// What the program builds and writes (through the handles, values with either quote) reads back clean and
// the same, in both layouts.
TEST(XmlDamage, WrittenThenReadIsClean) {
    XmlDocument document;
    document.Reset();
    EnsureSection(document.Root(), "GLOBAL").Attribute("index").SetUnsigned(40);
    XmlNodeRef devices = EnsureSection(document.Root(), "DEVINFO");
    for (const char* name : {"Gate", "say \"hi\"", "it's", "<&>", ""}) {
        XmlNodeRef dev = devices.AppendChild(XmlNodeKind::Element);
        dev.SetName("DEV");
        dev.Attribute("id").SetUnsigned(7);
        dev.Attribute("name").SetValue(name);
        XmlNodeRef entry = dev.AppendChild(XmlNodeKind::Element);
        entry.SetName("DEV");
        entry.Attribute("desc").SetValue("");
    }
    EnsureSection(document.Root(), "ORGINFO").AppendChild(XmlNodeKind::Element).SetName("ORG");
    for (XmlLayout layout : {XmlLayout::Indented, XmlLayout::Compact}) {
        std::string written = XmlWriteToString(document.Root(), layout);
        XmlDocument again;
        XmlLoadResult report = again.LoadText(written);
        if (std::string(written).find('<', written.find("name=\"<")) != std::string::npos) {
            // "<" typed into a value is written raw; the store refuses it before it gets this far
            EXPECT_EQ(report.damage, XmlDamage::BrokenAttribute);
        }
        EXPECT_EQ(XmlWriteToString(again.Root(), layout), written);
    }
    devices.RemoveChild(3);
    for (XmlLayout layout : {XmlLayout::Indented, XmlLayout::Compact}) {
        std::string written = XmlWriteToString(document.Root(), layout);
        XmlLoadResult report = Check(written);
        EXPECT_TRUE(report.Clean()) << report.problem << " at " << report.problemOffset << "\n" << written;
        EXPECT_EQ(report.depth, 4u);
    }
}

struct DamageCase {
    const char* name;
    std::string text;
    XmlDamage damage;
    std::uint64_t offset;
};

// Each kind of damage the tolerant parser passes over, with where the first problem stands. The trees are
// what LoadText builds from the same bytes: judging the text changes nothing in them.
TEST(XmlDamage, DamagedTextIsReportedWhereItStarts) {
    const std::string database = test::GenerateDatabaseText({3, 2, 1});
    const std::size_t cut = database.find("name=\"Device00002\"") + 8;
    const std::size_t afterTag = database.find("<DEV", database.find("Device00002")) - 1;
    const DamageCase cases[] = {
        {"cut inside a value", database.substr(0, cut), XmlDamage::CutOff, database.find("<DEV id=\"7\"")},
        {"cut after a tag", database.substr(0, afterTag), XmlDamage::UnclosedElement, afterTag},
        {"end tag of the parent", "<a><b></a></b>", XmlDamage::MismatchedEndTag, 6},
        {"end tag without an element", "</x><a/>", XmlDamage::StrayEndTag, 0},
        {"end tag after the root", "<a/></a>", XmlDamage::StrayEndTag, 4},
        {"end tag with junk", "<a></a b>", XmlDamage::BadMarkup, 3},
        {"missing closing quote", "<r><DEV name=\"Gate/>\r\n<DEV name=\"Door\"/></r>", XmlDamage::BrokenAttribute, 13},
        {"missing quote before the next attribute", "<r><DEV name=\"Gate port=\"80\"/></r>", XmlDamage::BrokenAttribute,
         25},
        {"unquoted value", "<a b=1/>", XmlDamage::BrokenAttribute, 3},
        {"attribute without value", "<a b c=\"1\"/>", XmlDamage::BrokenAttribute, 3},
        {"no space between attributes", "<a b=\"1\"c=\"2\"/>", XmlDamage::BrokenAttribute, 8},
        {"NUL byte", std::string("<a>\0</a>", 8), XmlDamage::NulByte, 3},
        {"UTF-16 LE", std::string("\xFF\xFE<\0a\0/\0>\0", 10), XmlDamage::Utf16, 0},
        {"UTF-16 BE", std::string("\xFE\xFF\0<\0a\0/\0>", 10), XmlDamage::Utf16, 0},
        {"text before the root", "hello<a/>", XmlDamage::StrayText, 0},
        {"text after an empty tag is dropped", "<a><b/>lost</a>", XmlDamage::StrayText, 7},
        {"text after the root", "<a/>\r\ntail", XmlDamage::AfterRoot, 6},
        {"second root element", "<a/><b/>", XmlDamage::AfterRoot, 4},
        {"no root, only a declaration", "<?xml version=\"1.0\"?>\r\n", XmlDamage::NoRoot, 23},
        {"no root, only a comment", "<!-- c -->", XmlDamage::NoRoot, 10},
        {"a lone <", "<a>< b/></a>", XmlDamage::BadMarkup, 3},
        {"unknown declaration", "<a/><!FOO x y>", XmlDamage::BadMarkup, 4},
        {"comment opened with one dash", "<a><!-x --></a>", XmlDamage::BadMarkup, 3},
        {"declaration closed by > alone", "<?xml version=\"1.0\"><r/><?pi?>", XmlDamage::BadMarkup, 0},
        {"declaration never closed", "<?xml version=\"1.0\"><r/>", XmlDamage::CutOff, 0},
        {"unclosed comment", "<a><!-- open", XmlDamage::CutOff, 3},
        {"unclosed CDATA", "<a><![CDATA[ open", XmlDamage::CutOff, 3},
        {"cut in a name", "<a><bc", XmlDamage::CutOff, 3},
        {"cut in an end tag", "<a></a", XmlDamage::CutOff, 3},
        {"text to the end", "<a>text", XmlDamage::CutOff, 3},
        {"unclosed subset", "<!DOCTYPE r [<!ENTITY e 'v'>", XmlDamage::CutOff, 0},
        {"text inside the subset", "<!DOCTYPE r [ %pe; ]><r/>", XmlDamage::BadMarkup, 14},
        {"element inside the subset", "<!DOCTYPE r [<x/>]><r/>", XmlDamage::BadMarkup, 13},
    };
    for (const DamageCase& c : cases) {
        XmlDocument checked;
        checked.SetParseOptions(kStoreOptions);
        XmlLoadResult report = checked.LoadText(c.text);
        EXPECT_TRUE(report.damaged) << c.name;
        EXPECT_FALSE(report.Clean()) << c.name;
        EXPECT_EQ(report.damage, c.damage) << c.name << ": " << report.problem;
        EXPECT_EQ(report.problemOffset, c.offset) << c.name << ": " << report.problem;
        EXPECT_FALSE(report.problem.empty()) << c.name;
        if (c.text.find('\0') == std::string::npos) {
            EXPECT_EQ(test::DescribeNode(checked.Root()), test::ParseAndDescribe(c.text, kStoreOptions)) << c.name;
        }
    }
}

TEST(XmlDamage, ProblemsInWords) {
    EXPECT_EQ(Check("<DEVINFO><DEV></DEVINFO>").problem, "closing tag </DEVINFO> does not match <DEV>");
    EXPECT_EQ(Check("<DATAROOT><DEVINFO>").problem, "element <DEVINFO> is not closed at the end of the file");
    EXPECT_EQ(Check("<a b=\"x/><c/>\"/>").problem, "attribute b runs into \"<\" (a quote is missing)");
    EXPECT_EQ(Check(std::string("<a/>\0", 5)).problem, "NUL byte");
    EXPECT_EQ(Check("<a><!-- x").problem, "the file ends inside a comment");
    // a hostile name does not make a hostile message
    EXPECT_LT(Check("<a></" + std::string(100000, 'n') + ">").problem.size(), 200u);
}

// The first problem in the file wins, whichever check finds it.
TEST(XmlDamage, FirstProblemWins) {
    EXPECT_EQ(Check(std::string("<a>\0<b></a>", 11)).damage, XmlDamage::NulByte);
    EXPECT_EQ(Check(std::string("<a><b></a>\0", 11)).damage, XmlDamage::MismatchedEndTag);
    XmlLoadResult late = Check(std::string("<a x=1>") + std::string(5000, ' ') + std::string(1, '\0') + "</a>");
    EXPECT_EQ(late.damage, XmlDamage::BrokenAttribute);
    EXPECT_EQ(late.problemOffset, 3u);
}

// With StopAfterInternalSubset the tree ends at the subset; a file with more after it is not complete.
TEST(XmlDamage, StoppingAfterTheSubsetIsNotACompleteRead) {
    EXPECT_EQ(Check("<!DOCTYPE r [<!ENTITY e 'v'>]><r/>", XmlParseOptions::AllOptions).damage, XmlDamage::NotRead);
    EXPECT_EQ(Check("<!DOCTYPE r [<!ENTITY e 'v'>]><r/>").damage, XmlDamage::None);
}

TEST(XmlDamage, DepthCountsNestedElements) {
    const struct {
        const char* text;
        std::uint32_t depth;
    } cases[] = {
        {"", 0},
        {"<!-- only -->", 0},
        {"<a/>", 1},
        {"<a>text<!--c--></a>", 1},
        {"<a><b/><c><d/></c></a>", 3},
        {"<a><b></a></b><c/>", 2},
        {"<a><b><c>", 3},
        {"<!DOCTYPE r [<!ENTITY e 'v'>]><r><s/></r>", 2},
        {"<?xml v=\"1\"?><a><b/></a>", 2},
    };
    for (const auto& c : cases) EXPECT_EQ(Check(c.text).depth, c.depth) << c.text;
}

TEST(XmlDamage, CheckedFileLoadJudgesTheText) {
    char folder[] = "/tmp/vantrel_xml_damage_XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    std::string path = std::string(folder) + "/Data.xml";
    const std::string text = "<DATAROOT><DEVINFO><DEV name=\"Gate/><DEV name=\"Door\"/></DEVINFO></DATAROOT>";
    FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::fwrite(text.data(), 1, text.size(), file);
    std::fclose(file);
    XmlDocument document;
    XmlLoadResult report = document.LoadFile(path.c_str());
    EXPECT_EQ(report.status, FileReadStatus::Read);
    EXPECT_EQ(report.damage, XmlDamage::BrokenAttribute);
    EXPECT_EQ(report.problemOffset, text.find('"'));
    EXPECT_EQ(report.depth, 3u);
    std::remove(path.c_str());
    rmdir(folder);
}

}  // namespace
}  // namespace vantrel
