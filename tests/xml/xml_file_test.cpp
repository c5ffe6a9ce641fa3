#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/xml_database_text.h"
#include "xml/xml_document.h"
#include "xml/xml_node_ref.h"
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

TEST_F(XmlFile, LoadTellsWhatItRead) {
    XmlDocument document;
    EXPECT_EQ(document.LoadFile(path_.c_str()).status, FileReadStatus::Missing);
    WriteBytes("");
    XmlLoadResult empty = document.LoadFile(path_.c_str());
    EXPECT_EQ(empty.status, FileReadStatus::Read);
    EXPECT_EQ(empty.size, 0u);
    EXPECT_EQ(document.LoadFile(nullptr).status, FileReadStatus::Unreadable);
    EXPECT_EQ(document.LoadFile(folder_.c_str()).status, FileReadStatus::NotRegularFile);
    EXPECT_TRUE(document.Root().IsValid());
    WriteBytes("<a/>");
    ASSERT_TRUE(document.LoadFile(path_.c_str()).Clean());
    EXPECT_EQ(XmlWriteToString(document.Root(), XmlLayout::Compact), "<a/>");
}

TEST_F(XmlFile, NulCutsTheRestOfItsPiece) {
    // pieces of 4095 bytes: a NUL in the first drops the rest of it; the second follows directly
    std::string bytes = "<a>" + std::string(10, 'x') + '\0' + std::string(4095 - 14, 'y') + "<b/></a>";
    WriteBytes(bytes);
    XmlDocument document;
    XmlLoadResult report = document.LoadFile(path_.c_str());
    EXPECT_EQ(XmlWriteToString(document.Root(), XmlLayout::Compact), "<a>xxxxxxxxxx<b/></a>");
    EXPECT_EQ(report.size, bytes.size());
    EXPECT_EQ(report.damage, XmlDamage::NulByte);
    EXPECT_EQ(report.problemOffset, 13u);

    WriteBytes(std::string(1, '\0'));
    EXPECT_EQ(document.LoadFile(path_.c_str()).damage, XmlDamage::NulByte);
    EXPECT_EQ(document.Root().ChildCount(), 0u);
}

// A file of several megabytes takes the mapped path for its text and tree: what comes out is the same.
TEST_F(XmlFile, LargeFileRoundTrips) {
    std::string text = test::GenerateDatabaseText({800, 16, 8});
    ASSERT_GT(text.size(), 2u << 20);
    WriteBytes(text);
    XmlDocument document;
    XmlLoadResult report = document.LoadFile(path_.c_str());
    EXPECT_TRUE(report.Clean()) << report.problem;
    EXPECT_EQ(report.depth, 4u);
    EXPECT_EQ(EnsureSection(document.Root(), "DEVINFO").ChildCount(), 800u);
    EXPECT_EQ(XmlWriteToString(document.Root(), XmlLayout::Indented), text);
    // far less than pugixml's 290 bytes per element
    EXPECT_LT(document.TreeBytes(), 800u * 33 * 260);
}

TEST_F(XmlFile, LoadGivesAnEmptyDocumentForMissingOrBlankFiles) {
    XmlDocument document;
    document.LoadFile(path_.c_str());
    ASSERT_EQ(document.Root().Kind(), XmlNodeKind::Document);
    EXPECT_FALSE(document.Root().Parent().IsValid()) << "a root is its own parent";
    EXPECT_EQ(document.Root().ChildCount(), 0u);
    EXPECT_EQ(XmlWriteToString(document.Root(), XmlLayout::Indented), "");

    for (const char* blank : {" \r\n\t ", "<?xml version=\"1.0\"?>"}) {
        WriteBytes(blank);
        EXPECT_EQ(document.LoadFile(path_.c_str()).status, FileReadStatus::Read);
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
    WriteBytes(XmlWriteToString(document.Root(), XmlLayout::Indented));

    XmlDocument loaded;
    ASSERT_TRUE(loaded.LoadFile(path_.c_str()).Clean());
    EXPECT_EQ(EnsureSection(loaded.Root(), "DEVINFO").Child(0).Attribute("name").Value(), "Gate");
    EXPECT_EQ(XmlWriteToString(loaded.Root(), XmlLayout::Indented),
              XmlWriteToString(document.Root(), XmlLayout::Indented));
    loaded.Clear();
    EXPECT_FALSE(loaded.Root().IsValid());
}

// Whatever stands at the database's path, the checked load returns at once and says what it found.
TEST_F(XmlFile, CheckedLoadReportsWhatStandsAtThePath) {
    XmlDocument document;
    XmlLoadResult report = document.LoadFile(path_.c_str());
    EXPECT_EQ(report.status, FileReadStatus::Missing);
    EXPECT_TRUE(document.Root().IsValid());

    ASSERT_EQ(mkfifo(path_.c_str(), 0600), 0);
    report = document.LoadFile(path_.c_str());  // would block without O_NONBLOCK
    EXPECT_EQ(report.status, FileReadStatus::NotRegularFile);
    std::remove(path_.c_str());

    ASSERT_EQ(symlink("/dev/zero", path_.c_str()), 0);
    EXPECT_EQ(document.LoadFile(path_.c_str()).status, FileReadStatus::NotRegularFile);
    std::remove(path_.c_str());

    ASSERT_EQ(mkdir(path_.c_str(), 0700), 0);
    EXPECT_EQ(document.LoadFile(path_.c_str()).status, FileReadStatus::NotRegularFile);
    rmdir(path_.c_str());

    WriteBytes("<DATAROOT><DEVINFO><DEV id=\"1\"><DEV id=\"2\"/></DEV></DEVINFO></DATAROOT>");
    report = document.LoadFile(path_.c_str(), 16);
    EXPECT_EQ(report.status, FileReadStatus::TooLarge);
    EXPECT_EQ(document.Root().ChildCount(), 0u) << "nothing of a refused file is kept";
    report = document.LoadFile(path_.c_str());
    EXPECT_TRUE(report.Clean());
    EXPECT_EQ(report.depth, 4u);
    EXPECT_TRUE(S_ISREG(report.info.st_mode));
}

}  // namespace
}  // namespace vantrel
