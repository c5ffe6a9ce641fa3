#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "xml/xml_document.h"
#include "xml/xml_node_ref.h"
#include "xml/xml_parser.h"
#include "xml/xml_writer.h"

namespace vantrel {
namespace {

class XmlFile : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/vantrel_xml_test_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder_ = pattern;
        path_ = folder_ + "/Data.xml";
    }
    void TearDown() override {
        std::remove(path_.c_str());
        rmdir(folder_.c_str());
    }
    void WriteBytes(const std::string& bytes) {
        FILE* file = std::fopen(path_.c_str(), "wb");
        ASSERT_NE(file, nullptr);
        std::fwrite(bytes.data(), 1, bytes.size(), file);
        std::fclose(file);
    }

    std::string folder_;
    std::string path_;
};

TEST_F(XmlFile, ReadFileReportsOnlyTrueOrFalse) {
    char* text = reinterpret_cast<char*>(1);
    std::size_t count = 7;
    EXPECT_FALSE(XmlReadFile(path_.c_str(), &text, &count, 4096)) << "missing";
    EXPECT_EQ(text, nullptr);
    EXPECT_EQ(count, 0u);
    WriteBytes("");
    EXPECT_FALSE(XmlReadFile(path_.c_str(), &text, &count, 4096)) << "empty";
    EXPECT_FALSE(XmlReadFile(nullptr, &text, &count, 4096));
    EXPECT_FALSE(XmlReadFile(path_.c_str(), nullptr, &count, 4096));
    EXPECT_FALSE(XmlReadFile(folder_.c_str(), &text, &count, 4096)) << "a folder";

    WriteBytes("<a/>");
    ASSERT_TRUE(XmlReadFile(path_.c_str(), &text, &count, 4096));
    EXPECT_STREQ(text, "<a/>");
    EXPECT_EQ(count, 4u);
    std::free(text);
}

TEST_F(XmlFile, NulCutsTheRestOfItsChunk) {
    // chunks of 4095 bytes: a NUL in the first drops the rest of it; the second follows directly
    std::string bytes = "<a>" + std::string(10, 'x') + '\0' + std::string(4095 - 14, 'y') + "<b/></a>";
    WriteBytes(bytes);
    char* text = nullptr;
    std::size_t count = 0;
    ASSERT_TRUE(XmlReadFile(path_.c_str(), &text, &count, 4096));
    EXPECT_EQ(std::string(text), "<a>xxxxxxxxxx<b/></a>");
    EXPECT_EQ(count, bytes.size());
    std::free(text);

    WriteBytes(std::string(1, '\0'));
    ASSERT_TRUE(XmlReadFile(path_.c_str(), &text, &count, 4096)) << "a byte was read";
    EXPECT_STREQ(text, "");
    std::free(text);
}

TEST_F(XmlFile, LoadGivesAnEmptyDocumentForMissingOrBlankFiles) {
    XmlDocument document;
    EXPECT_FALSE(document.LoadFile(path_.c_str()));
    ASSERT_NE(document.root, nullptr);
    EXPECT_EQ(document.root->parent, document.root);
    EXPECT_EQ(document.root->childCount, 0u);
    EXPECT_EQ(XmlWriteToString(document.Root(), XmlLayout::Indented), "");

    for (const char* blank : {" \r\n\t ", "<?xml version=\"1.0\"?>"}) {
        WriteBytes(blank);
        EXPECT_TRUE(document.LoadFile(path_.c_str()));
        ASSERT_TRUE(document.Root().IsValid());
        for (std::uint32_t i = 0; i < document.Root().ChildCount(); ++i) {
            EXPECT_NE(document.Root().Child(i).Kind(), XmlNodeKind::Element) << blank;
        }
    }
}

TEST_F(XmlFile, SaveAndLoadAgain) {
    XmlDocument document;
    document.Reset();
    XmlNodeRef dev = EnsureSection(document.Root(), "DEVINFO").AppendChild(XmlNodeKind::Element);
    dev.SetName("DEV");
    dev.Attribute("name").SetValue("Gate");
    ASSERT_TRUE(XmlWriteFile(path_.c_str(), document.Root(), XmlLayout::Indented));

    XmlDocument loaded;
    ASSERT_TRUE(loaded.LoadFile(path_.c_str()));
    EXPECT_EQ(EnsureSection(loaded.Root(), "DEVINFO").Child(0).Attribute("name").Value(), "Gate");
    EXPECT_EQ(XmlWriteToString(loaded.Root(), XmlLayout::Indented),
              XmlWriteToString(document.Root(), XmlLayout::Indented));
    loaded.Clear();
    EXPECT_EQ(loaded.root, nullptr);
    EXPECT_EQ(loaded.text, nullptr);
    EXPECT_FALSE(loaded.Root().IsValid());
}

// Whatever stands at the database's path, the checked load returns at once and says what it found.
TEST_F(XmlFile, CheckedLoadReportsWhatStandsAtThePath) {
    XmlDocument document;
    XmlFileReport report = document.LoadFileChecked(path_.c_str());
    EXPECT_EQ(report.status, XmlFileStatus::Missing);
    EXPECT_TRUE(document.Root().IsValid());

    ASSERT_EQ(mkfifo(path_.c_str(), 0600), 0);
    report = document.LoadFileChecked(path_.c_str());  // would block without O_NONBLOCK
    EXPECT_EQ(report.status, XmlFileStatus::NotRegularFile);
    std::remove(path_.c_str());

    ASSERT_EQ(symlink("/dev/zero", path_.c_str()), 0);
    EXPECT_EQ(document.LoadFileChecked(path_.c_str()).status, XmlFileStatus::NotRegularFile);
    std::remove(path_.c_str());

    ASSERT_EQ(mkdir(path_.c_str(), 0700), 0);
    EXPECT_EQ(document.LoadFileChecked(path_.c_str()).status, XmlFileStatus::NotRegularFile);
    rmdir(path_.c_str());

    WriteBytes("<DATAROOT><DEVINFO><DEV id=\"1\"><DEV id=\"2\"/></DEV></DEVINFO></DATAROOT>");
    report = document.LoadFileChecked(path_.c_str(), 16);
    EXPECT_EQ(report.status, XmlFileStatus::TooLarge);
    EXPECT_EQ(document.Root().ChildCount(), 0u) << "nothing of a refused file is kept";
    report = document.LoadFileChecked(path_.c_str());
    EXPECT_TRUE(report.Clean());
    EXPECT_EQ(report.depth, 4u);
    EXPECT_TRUE(S_ISREG(report.info.st_mode));
}

TEST_F(XmlFile, CheckedLoadMarksANulByteAsDamage) {
    WriteBytes(std::string("<DATAROOT><DEVINFO/>\0<IMGINFO/></DATAROOT>", 42));
    XmlDocument document;
    XmlFileReport report = document.LoadFileChecked(path_.c_str());
    EXPECT_EQ(report.status, XmlFileStatus::Read);
    EXPECT_TRUE(report.damaged);
    EXPECT_EQ(report.problemOffset, 20u);
    EXPECT_FALSE(report.Clean());
}

TEST(XmlNewNode, ArraysByKind) {
    const struct {
        XmlNodeKind kind;
        std::uint32_t attributes;
        std::uint32_t children;
    } kinds[] = {
        {XmlNodeKind::Document, 0, 1},       {XmlNodeKind::Element, 1, 1}, {XmlNodeKind::Text, 0, 0},
        {XmlNodeKind::CData, 0, 0},          {XmlNodeKind::Comment, 0, 0}, {XmlNodeKind::Declaration, 1, 0},
        {XmlNodeKind::IncludeSection, 0, 0}, {XmlNodeKind::Doctype, 1, 1}, {XmlNodeKind::EntityDecl, 1, 0},
        {XmlNodeKind::NotationDecl, 1, 0},
    };
    for (const auto& k : kinds) {
        XmlNode* node = XmlNewNode(k.kind);
        ASSERT_NE(node, nullptr);
        EXPECT_EQ(node->attributeCapacity, k.attributes) << static_cast<int>(k.kind);
        EXPECT_EQ(node->childCapacity, k.children) << static_cast<int>(k.kind);
        EXPECT_EQ(node->parent, nullptr);
        EXPECT_EQ(node->nameBorrowed, 1u);
        EXPECT_EQ(node->valueBorrowed, 1u);
        XmlDestroyTree(node);
    }
    XmlDestroyTree(nullptr);
}

}  // namespace
}  // namespace vantrel
