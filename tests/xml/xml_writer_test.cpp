#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "reference/writer_comparison.h"
#include "support/xml_database_text.h"
#include "xml/xml_document.h"
#include "xml/xml_node_ref.h"
#include "xml/xml_writer.h"

namespace vantrel {
namespace {

constexpr std::uint32_t kKeepAll = XmlParseOptions::AllOptions & ~XmlParseOptions::StopAfterInternalSubset;

std::string Rewrite(const std::string& text, XmlLayout layout, std::uint32_t options = kKeepAll,
                    XmlLineEnd lineEnd = XmlLineEnd::Lf) {
    XmlDocument document;
    document.SetParseOptions(options);
    document.LoadText(text);
    return XmlWriteToString(document.Root(), layout, lineEnd);
}

struct WriteCase {
    const char* input;
    const char* indented;
    const char* compact;
};

TEST(XmlWrite, EachNodeKindInBothLayouts) {
    const WriteCase cases[] = {
        {"<a/>", "<a/>\n", "<a/>"},
        {"<a>only text</a>", "<a>only text</a>\n", "<a>only text</a>"},
        {"<a x='1' y z=\"q\"/>", "<a x=\"1\" y=\"\" z=\"q\"/>\n", "<a x=\"1\" y=\"\" z=\"q\"/>"},
        {"<?xml version=\"1.0\" encoding=\"UTF-8\"?><r/>", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<r/>\n",
         "<?xml version=\"1.0\" encoding=\"UTF-8\"?><r/>"},
        {"<r><!--c--><![CDATA[d]]><![INCLUDE[i]]></r>", "<r>\n\t<!--c-->\n\t<![CDATA[d]]>\n\t<![INCLUDE[i]]>\n</r>\n",
         "<r><!--c--><![CDATA[d]]><![INCLUDE[i]]></r>"},
        {"<a>x<b>y</b>z</a>", "<a>\n\tx\n\t<b>y</b>\n\tz\n</a>\n", "<a>x<b>y</b>z</a>"},
        {"<a><b><c/></b></a>", "<a>\n\t<b>\n\t\t<c/>\n\t</b>\n</a>\n", "<a><b><c/></b></a>"},
        {"<!DOCTYPE r SYSTEM \"s\" [<!ENTITY e \"v\"><!FOO x y><!ATTLIST r a CDATA #IMPLIED>]><r/>",
         "<!DOCTYPE r SYSTEM \"s\"\n[\n\t<!ENTITY e \"v\">\n\t<!ENTITY x y>\n\t<!ATTLIST r a CDATA "
         "#IMPLIED>\n]>\n<r/>\n",
         "<!DOCTYPE r SYSTEM \"s\" [ <!ENTITY e \"v\"><!ENTITY x y><!ATTLIST r a CDATA #IMPLIED>]><r/>"},
        {"", "", ""},
        {"   \r\n ", "", ""},
        // references stay as they are
        {"<a v=\"&amp;&#60;&#x3c;\">&lt;</a>", "<a v=\"&amp;&#60;&#x3c;\">&lt;</a>\n",
         "<a v=\"&amp;&#60;&#x3c;\">&lt;</a>"},
    };
    for (const WriteCase& c : cases) {
        EXPECT_EQ(Rewrite(c.input, XmlLayout::Indented), c.indented) << c.input;
        EXPECT_EQ(Rewrite(c.input, XmlLayout::Compact), c.compact) << c.input;
    }
    EXPECT_EQ(Rewrite("<!DOCTYPE r [ <!ENTITY e 'v'> ]><r/>", XmlLayout::Indented, XmlParseOptions::KeepDtd),
              "<!DOCTYPE r [ <!ENTITY e 'v'> ]>\n<r/>\n");
}

TEST(XmlWrite, DataFileIsSixCrLfLines) {
    XmlDocument document;
    document.Reset();
    XmlNodeRef devinfo = EnsureSection(document.Root(), "DEVINFO");
    for (const char* name : {"Gate", "Door"}) {
        XmlNodeRef dev = devinfo.AppendChild(XmlNodeKind::Element);
        dev.SetName("DEV");
        dev.Attribute("id").SetUnsigned(1);
        dev.Attribute("name").SetValue(name);
    }
    EXPECT_EQ(XmlWriteToString(document.Root(), XmlLayout::Indented),
              "<DATAROOT>\r\n\t<DEVINFO>\r\n\t\t<DEV id=\"1\" name=\"Gate\"/>\r\n\t\t<DEV id=\"1\" name=\"Door\"/>\r\n"
              "\t</DEVINFO>\r\n</DATAROOT>\r\n");
}

TEST(XmlWrite, ValueBytesAreNotTouched) {
    XmlDocument document;
    document.Reset();
    XmlNodeRef a = document.Root().AppendChild(XmlNodeKind::Element);
    a.SetName("a");
    a.Attribute("v").SetValue("line\nbreak\r\n'q'>");
    a.Attribute("empty");
    // a value with a line feed must not gain a CR at every save
    EXPECT_EQ(XmlWriteToString(document.Root(), XmlLayout::Indented), "<a v=\"line\nbreak\r\n'q'>\" empty=\"\"/>\r\n");
}

// A value holding a double quote came single-quoted from a file; written in double quotes it would end early
// and garble everything after it at the next load.
TEST(XmlWrite, QuotesChosenSoThatValuesReadBack) {
    const char* input = "<DEVINFO><DEV name='say \"hi\"' host=\"it's\"/><DEV name=\"Door\"/></DEVINFO>";
    XmlDocument document;
    document.LoadText(input);
    std::string written = XmlWriteToString(document.Root(), XmlLayout::Compact);
    EXPECT_EQ(written, "<DEVINFO><DEV name='say \"hi\"' host=\"it's\"/><DEV name=\"Door\"/></DEVINFO>");
    XmlDocument again;
    XmlLoadResult report = again.LoadText(written);
    EXPECT_TRUE(report.Clean()) << report.problem;
    EXPECT_EQ(again.Root().Child(0).Child(0).Attribute("name").Value(), "say \"hi\"");
    EXPECT_EQ(again.Root().Child(0).Child(1).Attribute("name").Value(), "Door");
    EXPECT_EQ(Rewrite("<!DOCTYPE r SYSTEM 'a\"b.dtd'><r/>", XmlLayout::Compact), "<!DOCTYPE r SYSTEM 'a\"b.dtd'><r/>");
}

// Both quote characters in one value: no quoting reads back the same, so nothing that would is claimed.
TEST(XmlWrite, ValueWithBothQuotesFailsTheWrite) {
    XmlDocument document;
    document.LoadText("<DATAROOT><DEV name=\"Gate\"/><DEV name=\"Door\"/></DATAROOT>");
    ASSERT_TRUE(document.Root().Child(0).Child(1).Attribute("name").SetValue("it's \"x\""));
    std::string out;
    XmlStringSink sink(out);
    EXPECT_FALSE(XmlWrite(sink, document.Root(), XmlLayout::Indented));
    EXPECT_EQ(out.find("it's"), std::string::npos) << "nothing of the value is written";
}

TEST(XmlWrite, NamelessElementIsAnonymous) {
    XmlDocument document;
    document.Reset();
    XmlNodeRef a = document.Root().AppendChild(XmlNodeKind::Element);
    a.AppendChild(XmlNodeKind::Element).SetName("c");
    EXPECT_EQ(XmlWriteToString(document.Root(), XmlLayout::Compact), "<anonymous><c/></anonymous>");
    EXPECT_EQ(XmlWriteToString(a.Child(0), XmlLayout::Compact), "<c/>") << "a single node writes itself";
}

TEST(XmlWrite, RoundTripsGivesIdenticalBytes) {
    const std::string database = test::GenerateDatabaseText({3, 4, 2});
    EXPECT_EQ(Rewrite(database, XmlLayout::Indented, XmlParseOptions::AllOptions, XmlLineEnd::CrLf), database);
    const char* odd[] = {
        "<?xml version='1.0'?><!DOCTYPE r [<!ENTITY % p 'x'><!ELEMENT r ANY>]><r b=c a='1'>t<x/>u</r>",
        "<r><!-- c --><![CDATA[ d ]]>text<e f='g'/>tail<h>i</h></r><z/>",
    };
    for (const char* input : odd) {
        for (XmlLayout layout : {XmlLayout::Indented, XmlLayout::Compact}) {
            std::string once = Rewrite(input, layout);
            EXPECT_EQ(Rewrite(once, layout), once) << input;
        }
    }
}

// Cases a fuzzer reaches only by luck, pinned to their bytes: what each escape and quote rule gives.
TEST(XmlWrite, EscapesQuotesAndNamesInEveryPlace) {
    struct Case {
        const char* name;
        const char* value;
        const char* expected;  // compact; nullptr when the write must fail
    };
    const Case cases[] = {
        {"v", "a&amp;b&#60;c&#x3C;d&x;", "<e v=\"a&amp;b&#60;c&#x3C;d&x;\"/>"},
        {"v", "a & b&c&#;&#x;&#xg;&1;&", "<e v=\"a &amp; b&amp;c&amp;#;&amp;#x;&amp;#xg;&amp;1;&amp;\"/>"},
        {"v", "1<2", "<e v=\"1&lt;2\"/>"},
        {"v", "say \"hi\" <now>", "<e v='say \"hi\" &lt;now>'/>"},
        {"v", "it's", "<e v=\"it's\"/>"},
        {"v", "it's \"x\"", nullptr},
        {"1st", "x", "<e _1st=\"x\"/>"},
        {"-a", "", "<e _-a=\"\"/>"},
        {".b", "\xC3\xA9", "<e _.b=\"\xC3\xA9\"/>"},
        {"\xC3\xA9", "x", "<e \xC3\xA9=\"x\"/>"},
    };
    for (const Case& c : cases) {
        XmlDocument document;
        document.Reset();
        XmlNodeRef e = document.Root().AppendChild(XmlNodeKind::Element);
        e.SetName("e");
        e.AddAttribute(c.name, c.value);
        std::string out;
        XmlStringSink sink(out);
        bool ok = XmlWrite(sink, document.Root(), XmlLayout::Compact);
        EXPECT_EQ(ok, c.expected != nullptr) << c.value;
        if (c.expected != nullptr) {
            EXPECT_EQ(out, c.expected) << c.value;
        }
        const char* what = "";
        EXPECT_TRUE(reference::SameBytesWritten(document.Root(), &what)) << what << ": " << c.value;
    }
}

TEST(XmlWrite, TextDeclarationsAndNamesAsTheyMustReadBack) {
    XmlDocument document;
    document.Reset();
    XmlNodeRef root = document.Root();
    XmlNodeRef declaration = root.AppendChild(XmlNodeKind::Element);
    declaration.SetName("9lives");  // an element named with a digit first, end tag too
    declaration.AppendChild(XmlNodeKind::Text).SetValue("a<b & c &lt; \"q\" 'a'");
    XmlNodeRef empty = root.AppendChild(XmlNodeKind::Element);
    empty.SetName("empty");
    empty.AppendChild(XmlNodeKind::Text);  // gives no bytes: the element is written as empty
    empty.AppendChild(XmlNodeKind::Text).SetValue("");
    XmlNodeRef mixed = root.AppendChild(XmlNodeKind::Element);
    mixed.SetName("m");
    mixed.AppendChild(XmlNodeKind::Text).SetValue("x<y");
    mixed.AppendChild(XmlNodeKind::Element).SetName("k");
    EXPECT_EQ(XmlWriteToString(root, XmlLayout::Indented, XmlLineEnd::Lf),
              "<_9lives>a&lt;b &amp; c &lt; \"q\" 'a'</_9lives>\n<empty/>\n<m>\n\tx&lt;y\n\t<k/>\n</m>\n");

    // a declaration's values and the sections stand as they are; only the quote is chosen
    EXPECT_EQ(Rewrite("<?pi a='x\"<&' b?><!--<&--><![CDATA[<&]]><r/>", XmlLayout::Compact),
              "<?pi a='x\"<&' b?><!--<&--><![CDATA[<&]]><r/>");
    const char* what = "";
    EXPECT_TRUE(reference::SameBytesWritten(root, &what)) << what;
}

// Values looked at a word at a time: a special byte is found wherever it stands, in values of every length
// around the word sizes, among bytes that differ from it only in the high bit.
TEST(XmlWrite, SpecialBytesAreFoundAtEveryPlaceOfAValue) {
    for (char special : {'<', '&', '"', '\''}) {
        for (std::size_t length = 1; length <= 20; ++length) {
            for (std::size_t at = 0; at < length; ++at) {
                std::string value(length, 'a');
                for (std::size_t i = 0; i < length; ++i) value[i] = "\xA2\xA6\xA7\xBC"[i % 4];
                value[at] = special;
                XmlDocument document;
                document.Reset();
                XmlNodeRef e = document.Root().AppendChild(XmlNodeKind::Element);
                e.SetName("e");
                e.AddAttribute("v", value.c_str());
                e.AppendChild(XmlNodeKind::Text).SetValue(value.c_str());
                const char* what = "";
                ASSERT_TRUE(reference::SameBytesWritten(document.Root(), &what))
                    << what << ": '" << special << "' at " << at << " of " << length;
            }
        }
    }
}

// The shapes beyond the writer's fast paths: nesting deeper than its run of tabs, values larger than its
// buffer, failures after some of the output, and a real database.
TEST(XmlWrite, SameBytesAsThePreviousWriterBeyondTheFastPaths) {
    XmlDocument deep;
    deep.Reset();
    XmlNodeRef node = deep.Root();
    for (int i = 0; i < 70; ++i) {
        node = node.AppendChild(XmlNodeKind::Element);
        node.SetName(i % 2 ? "b" : "a");
        node.Attribute("i").SetUnsigned(static_cast<std::uint32_t>(i));
    }
    node.AppendChild(XmlNodeKind::Comment).SetValue("bottom");

    XmlDocument large;
    large.LoadText(test::GenerateDatabaseText({40, 16, 2}));
    XmlNodeRef devinfo = EnsureSection(large.Root(), "DEVINFO");
    const std::string huge(300 * 1024, 'x');
    devinfo.Child(3).Attribute("desc").SetValue(huge.c_str());
    devinfo.Child(5).AppendChild(XmlNodeKind::Text).SetValue((huge + "<").c_str());
    devinfo.Child(7).SetName(huge.c_str());

    XmlDocument failing;
    failing.LoadText(test::GenerateDatabaseText({60, 16, 2}));
    EnsureSection(failing.Root(), "DEVINFO").Child(50).Attribute("name").SetValue("\"'");

    for (XmlDocument* document : {&deep, &large, &failing}) {
        const char* what = "";
        EXPECT_TRUE(reference::SameBytesWritten(document->Root(), &what)) << what;
    }
}

// Accepts limit bytes, then fails.
class FailingSink : public XmlSink {
public:
    explicit FailingSink(std::size_t limit) : limit_(limit) {}
    bool Write(const char*, std::size_t size) override {
        if (size > limit_)
            return false;
        limit_ -= size;
        return true;
    }

private:
    std::size_t limit_;
};

TEST(XmlWrite, WriteErrorsReachTheCaller) {
    XmlDocument document;
    document.LoadText(test::GenerateDatabaseText({300, 16, 2}));
    FailingSink sink(100000);
    EXPECT_FALSE(XmlWrite(sink, document.Root(), XmlLayout::Indented));

    int fd = ::open("/dev/full", O_WRONLY);
    ASSERT_GE(fd, 0);
    XmlFdSink full(fd);
    EXPECT_FALSE(XmlWrite(full, document.Root(), XmlLayout::Indented));
    EXPECT_EQ(full.Error(), ENOSPC);
    ::close(fd);
}

// Lends a room of its own on the turns it is told to, and keeps what it takes. It checks the lending rules: lent
// room comes back as the data of the very next Write, no larger than lent.
class LendingSink : public XmlSink {
public:
    LendingSink(std::size_t roomSize, std::uint32_t lendEvery) : room_(roomSize, '\0'), lendEvery_(lendEvery) {}
    char* Lend(std::size_t atLeast, std::size_t& size) override {
        size = 0;
        if (lent_ || ++asked_ % lendEvery_ != 0 || room_.size() < atLeast)
            return nullptr;
        lent_ = true;
        size = room_.size();
        return room_.data();
    }
    bool Write(const char* data, std::size_t size) override {
        if (lent_ && (data != room_.data() || size > room_.size()))
            broken = true;
        if (data == room_.data() && !lent_)
            broken = true;
        lent_ = false;
        taken.append(data, size);
        ++writes;
        return writes < failAtWrite;
    }
    std::string taken;
    std::size_t writes = 0;
    std::size_t failAtWrite = SIZE_MAX;
    bool broken = false;

private:
    std::string room_;
    std::uint32_t lendEvery_;
    std::uint32_t asked_ = 0;
    bool lent_ = false;
};

// Whether the writer fills lent room or its own buffer, the sink receives the same bytes: across many buffers,
// with a text larger than any buffer (handed over directly), with the sink lending only now and then, and up
// to where a write fails.
TEST(XmlWrite, LentRoomGivesTheSameBytes) {
    XmlDocument database;
    database.LoadText(test::GenerateDatabaseText({400, 16, 2}));
    XmlDocument largeText;
    largeText.LoadText("<a><b x=\"1\"/><c>" + std::string(300 * 1024, 't') + "</c><b y=\"2\"/></a>");
    XmlDocument bothQuotes;
    bothQuotes.LoadText(test::GenerateDatabaseText({400, 16, 2}));
    // on the last device, so that many buffers have gone before the writer stops
    XmlNodeRef late = bothQuotes.Root().Child(0);
    while (late.ChildCount() > 0) late = late.Child(late.ChildCount() - 1);
    ASSERT_TRUE(late.AddAttribute("q", "\"'").IsValid());
    struct Case {
        const char* what;
        const XmlDocument& document;
        std::size_t room;
        std::uint32_t lendEvery;
        std::size_t failAtWrite;
    };
    const Case cases[] = {
        {"database, always lent", database, 128 * 1024, 1, SIZE_MAX},
        {"database, larger room", database, 1 << 20, 1, SIZE_MAX},
        {"database, lent every third turn", database, 128 * 1024, 3, SIZE_MAX},
        {"room too small to take", database, 1000, 1, SIZE_MAX},
        {"text larger than a buffer", largeText, 128 * 1024, 1, SIZE_MAX},
        {"text larger than a buffer, lent now and then", largeText, 128 * 1024, 2, SIZE_MAX},
        {"value with both quotes", bothQuotes, 128 * 1024, 1, SIZE_MAX},
        {"sink fails on its fourth write", database, 128 * 1024, 1, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        LendingSink lending(c.room, c.lendEvery);
        lending.failAtWrite = c.failAtWrite;
        bool written = XmlWrite(lending, c.document.Root(), XmlLayout::Indented);
        EXPECT_FALSE(lending.broken);
        std::string expected = XmlWriteToString(c.document.Root(), XmlLayout::Indented);
        if (c.failAtWrite != SIZE_MAX) {
            EXPECT_FALSE(written);
            EXPECT_EQ(lending.writes, c.failAtWrite);
            ASSERT_LE(lending.taken.size(), expected.size());
            expected.resize(lending.taken.size());
        } else {
            EXPECT_EQ(written, &c.document != &bothQuotes);
        }
        EXPECT_EQ(lending.taken, expected);
    }
}

}  // namespace
}  // namespace vantrel
