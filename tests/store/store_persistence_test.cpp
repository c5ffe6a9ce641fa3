#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <set>

#include "store/device_store.h"
#include "store_fixture.h"
#include "xml_database_text.h"

using namespace vantrel;

namespace {

using StorePersistence = StoreTest;

// Passes bytes on to the descriptor until the budget is spent, then fails like a full disk.
class FailingSink : public XmlSink {
public:
    FailingSink(int fd, std::size_t budget) : inner_(fd), budget_(budget) {}
    bool Write(const char* data, std::size_t size) override {
        if (size > budget_) {
            inner_.Write(data, budget_);
            budget_ = 0;
            return false;
        }
        budget_ -= size;
        return inner_.Write(data, size);
    }

private:
    XmlFdSink inner_;
    std::size_t budget_;
};

TEST_F(StorePersistence, SaveWritesCrLfWithPrivateMode) {
    XmlDeviceStore& store = Open();
    store.CountDevices();
    ASSERT_EQ(store.Save(), 1);
    EXPECT_EQ(ReadWholeFile(path_), "<DATAROOT>\r\n\t<DEVINFO/>\r\n</DATAROOT>\r\n");
    struct stat info {};
    ASSERT_EQ(stat(path_.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    // nothing but the database and its lock file is left in the folder
    EXPECT_EQ(FolderEntries(), (std::set<std::string>{"Data.xml", ".Data.xml.lock"}));
}

TEST_F(StorePersistence, SaveWithoutTheFolderFailsAndCreatesNothing) {
    std::filesystem::remove(folder_.Path() + "XML");
    XmlDeviceStore& store = Open();
    // without the folder there is no place for the password key either
    DeviceRecord record = MakeDevice("Gate");
    EXPECT_EQ(store.AddDevices(&record, sizeof record), 0);
    ASSERT_NE(store.AddOrganization(0, "Gate"), 0u);
    EXPECT_EQ(store.Save(), 0);
    EXPECT_FALSE(std::filesystem::exists(folder_.Path() + "XML"));
    // the changes stay in memory for a later attempt
    std::filesystem::create_directory(folder_.Path() + "XML");
    EXPECT_EQ(store.Save(), 1);
    EXPECT_NE(ReadWholeFile(path_).find("name=\"Gate\""), std::string::npos);
}

TEST_F(StorePersistence, WriteFailingPartWayKeepsTheOldFile) {
    // bytes the next saves may write before they fail; unlimited writes everything
    constexpr std::size_t kUnlimited = SIZE_MAX;
    std::size_t budget = kUnlimited;
    XmlStoreOptions options;
    options.saveSink = [&budget](int fd) -> std::unique_ptr<XmlSink> {
        if (budget == kUnlimited) {
            return std::make_unique<XmlFdSink>(fd);
        }
        return std::make_unique<FailingSink>(fd, budget);
    };
    XmlDeviceStore& store = Open(options);
    Add(MakeDevice("Gate", 4));
    ASSERT_EQ(store.Save(), 1);
    const std::string saved = ReadWholeFile(path_);
    Add(MakeDevice("Door", 16));
    for (std::size_t failAfter : {std::size_t{0}, std::size_t{1}, std::size_t{100}, saved.size()}) {
        budget = failAfter;
        EXPECT_EQ(store.Save(), 0) << budget;
        EXPECT_EQ(ReadWholeFile(path_), saved);
        EXPECT_EQ(FolderEntries(), (std::set<std::string>{"Data.xml", "Data.key", ".Data.xml.lock"}));
    }
    budget = kUnlimited;
    EXPECT_EQ(store.Save(), 1);
    EXPECT_NE(ReadWholeFile(path_).find("Door_16"), std::string::npos);
}

TEST_F(StorePersistence, SavesEndWithTheDocumentWhateverTheSizeOfTheFileTheyReplace) {
    // the room of the file replaced is taken before the writes: the new file must still end with the document
    const std::string text = "<DATAROOT>\r\n\t<DEVINFO/>\r\n</DATAROOT>\r\n";
    TempFolder twinFolder;
    mkdir((twinFolder.Path() + "XML").c_str(), 0700);
    const std::string twinPath = twinFolder.Path() + "XML/Data.xml";
    WriteWholeFile(twinPath, text);
    XmlDeviceStore twin(twinPath);
    // white space after the document is not written back, so this file is far longer than any save of it
    XmlDeviceStore& store = OpenWith(text + std::string(1 << 20, '\n'));

    auto addBoth = [&](const char* name) {
        DeviceRecord record = MakeDevice(name, 16);
        DeviceRecord twinRecord = record;
        EXPECT_EQ(store.AddDevices(&record, sizeof record), 1);
        EXPECT_EQ(twin.AddDevices(&twinRecord, sizeof twinRecord), 1);
        return record.id;
    };
    auto saveBoth = [&] {
        ASSERT_EQ(store.Save(), 1);
        ASSERT_EQ(twin.Save(), 1);
        // each store enciphers the passwords with a key of its own: the same sizes, not the same bytes
        const std::string saved = ReadWholeFile(path_);
        EXPECT_EQ(saved.size(), ReadWholeFile(twinPath).size());
        EXPECT_EQ(saved.find('\0'), std::string::npos);
        EXPECT_EQ(saved.compare(saved.size() - 13, 13, "</DATAROOT>\r\n"), 0);
    };
    // shorter than the file replaced, then longer, then shorter again
    const std::uint32_t gate = addBoth("Gate");
    addBoth("Door");
    saveBoth();
    addBoth("Yard");
    saveBoth();
    EXPECT_EQ(store.RemoveDevice(gate, nullptr), 1);
    EXPECT_EQ(twin.RemoveDevice(gate, nullptr), 1);
    saveBoth();
    XmlDeviceStore reopened(path_);
    EXPECT_EQ(reopened.CountDevices(), 2u);
    EXPECT_FALSE(reopened.Condition()->file.damaged);
}

TEST_F(StorePersistence, UnusedElementsAndAttributesSurviveByteForByte) {
    const std::string original =
        "<?xml version=\"1.0\" encoding=\"GB2312\"?>\r\n"
        "<!-- saved by the client -->\r\n"
        "<DATAROOT>\r\n"
        "\t<GLOBAL index=\"20\" identify=\"abc\"/>\r\n"
        "\t<PROJINFO>\r\n"
        "\t\t<BIGPROJINFO>\r\n"
        "\t\t\t<BIGPROJ id=\"9\" windows=\"4\" wndno=\"1\" timespan=\"30\" devname=\"x &amp; y\">\r\n"
        "\t\t\t\t<IWND monitorsort=\"2\"/>\r\n"
        "\t\t\t</BIGPROJ>\r\n"
        "\t\t</BIGPROJINFO>\r\n"
        "\t\t<SMALLPROJINFO><SMALLPROJ id=\"10\"/></SMALLPROJINFO>\r\n"
        "\t</PROJINFO>\r\n"
        "\t<RECORDINFO fileSize=\"512\" autoRecord=\"1\" overMode=\"0\" beginPartition=\"C\" endPartition=\"D\">\r\n"
        "\t\t<ICHANNEL disc=\"d\" video=\"1\" security=\"0\" begintime=\"0\" endtime=\"86399\"/>\r\n"
        "\t\t<IWEEK weekno=\"1\"><IPERIOD periodno=\"2\"/></IWEEK>\r\n"
        "\t</RECORDINFO>\r\n"
        "\t<ISMALLPROJ/>\r\n"
        "\t<IBIGPROJ/>\r\n"
        "</DATAROOT>\r\n";
    // the same file written back uses the writer's layout; normalise once and compare after a store round trip
    XmlDocument reference;
    reference.LoadText(original);
    const std::string expected = XmlWriteToString(reference.Root(), XmlLayout::Indented, XmlLineEnd::CrLf);
    ASSERT_EQ(expected.substr(0, 40), original.substr(0, 40));

    OpenWith(original);
    ASSERT_EQ(store_->Save(), 1);
    EXPECT_EQ(ReadWholeFile(path_), expected);
}

TEST_F(StorePersistence, GetOrCreateAdditionsReachTheFile) {
    XmlDeviceStore& store = OpenWith(
        "<DATAROOT><DEVINFO><DEV id=\"1\" name=\"A\" host=\"h\" port=\"1\" password=\"\"/></DEVINFO></DATAROOT>");
    EXPECT_EQ(store.FindDeviceByDdns("h", "", 0), 1u);
    ASSERT_EQ(store.Save(), 1);
    EXPECT_NE(ReadWholeFile(path_).find("password=\"\" DDNSHost=\"\" DDNSPort=\"\"/>"), std::string::npos)
        << ReadWholeFile(path_);
}

TEST_F(StorePersistence, InternalSubsetDoesNotEndTheDatabase) {
    XmlDeviceStore& store = OpenWith(
        "<?xml version=\"1.0\"?>\n<!DOCTYPE DATAROOT [\n<!ENTITY vendor \"V\">\n]>\n"
        "<DATAROOT><DEVINFO><DEV id=\"1\" name=\"Gate\"/></DEVINFO><GLOBAL index=\"2\"/></DATAROOT>\n");
    EXPECT_EQ(store.FindDeviceByName("Gate"), 1u);
    ASSERT_EQ(store.Save(), 1);
    XmlDeviceStore& reopened = Open();
    EXPECT_EQ(reopened.FindDeviceByName("Gate"), 1u);
    EXPECT_NE(ReadWholeFile(path_).find("<!ENTITY vendor"), std::string::npos);
}

TEST_F(StorePersistence, ReleaseWithoutSaveLeavesTheFile) {
    WriteWholeFile(path_, "<DATAROOT/>");
    Open();
    Add(MakeDevice("Gate"));
    store_.reset();
    EXPECT_EQ(ReadWholeFile(path_), "<DATAROOT/>");
}

}  // namespace

namespace {

TEST_F(StorePersistence, MarkupCharactersOtherThanQuoteLessThanAndAmpersandRoundTrip) {
    XmlDeviceStore& store = Open();
    const char* name = "a>b'c \xE5\x8C\x97";
    Add(MakeDevice(name, 1));
    ASSERT_EQ(store.Save(), 1);
    XmlDeviceStore& reopened = Open();
    EXPECT_NE(reopened.FindDeviceByName(name), 0u);
    ChannelEntry entries[1];
    ASSERT_EQ(reopened.LoadChannelEntries(reopened.FindDeviceByName(name), entries, 1), 1);
    EXPECT_EQ(std::string(entries[0].name), std::string(name) + "_1");
}

// A database large enough that a save copies the devices no change reached from the text it read: every change
// of ours and of another program reaches the file, and the rest stays as it was, byte for byte.
class LargeDatabaseSave : public StoreTest {
protected:
    static constexpr int kDevices = 400;
    const std::string text_ = test::GenerateDatabaseText({kDevices, 2, 2});

    // The saved file in the writer's own layout, and the store that reopens it.
    XmlDeviceStore& Reopened() {
        std::string saved = ReadWholeFile(path_);
        XmlDocument document;
        EXPECT_TRUE(document.LoadText(saved).Clean());
        EXPECT_EQ(XmlWriteToString(document.Root(), XmlLayout::Indented, XmlLineEnd::CrLf), saved);
        return Open();
    }
};

TEST_F(LargeDatabaseSave, EveryChangeReachesTheFile) {
    XmlDeviceStore& store = OpenWith(text_);
    ASSERT_EQ(store.Save(), 1);
    EXPECT_EQ(ReadWholeFile(path_), text_);

    std::uint32_t renamed = store.FindDeviceByName("Device00002");
    DeviceRecord record{};
    ASSERT_EQ(store.LoadDeviceRecord(renamed, &record), 1);
    std::strcpy(record.name, "Porch");
    ASSERT_EQ(store.ModifyDevice(renamed, &record, sizeof record, nullptr), 1);
    ASSERT_EQ(store.RemoveDevice(store.FindDeviceByName("Device00003"), nullptr), 1);
    const std::int32_t types[] = {1, 1};
    ASSERT_EQ(store.SetCameraTypes(store.FindDeviceByName("Device00004"), types, 2), 1);
    Add(MakeDevice("Gate", 2, "10.9.0.1"));
    ASSERT_EQ(store.Save(), 1) << store.Condition()->saveProblem;
    // and a second save, from the same load, after one more change
    Add(MakeDevice("Door", 2, "10.9.0.2"));
    ASSERT_EQ(store.Save(), 1) << store.Condition()->saveProblem;

    XmlDeviceStore& reopened = Reopened();
    EXPECT_NE(reopened.FindDeviceByName("Porch"), 0u);
    EXPECT_EQ(reopened.FindDeviceByName("Device00002"), 0u);
    EXPECT_EQ(reopened.FindDeviceByName("Device00003"), 0u);
    EXPECT_NE(reopened.FindDeviceByName("Gate"), 0u);
    EXPECT_NE(reopened.FindDeviceByName("Door"), 0u);
    std::int32_t read[2] = {};
    ASSERT_EQ(reopened.GetCameraTypes(reopened.FindDeviceByName("Device00004"), read, 2), 1);
    EXPECT_EQ(read[0], 1);
    EXPECT_EQ(reopened.CountDevices(), static_cast<std::uint32_t>(kDevices + 1));
}

TEST_F(LargeDatabaseSave, AnotherProgramsChangeIsKeptBesideOurs) {
    XmlDeviceStore& store = OpenWith(text_);
    Add(MakeDevice("Gate", 2, "10.9.0.1"));
    std::string theirs = text_;
    std::size_t at = theirs.find("name=\"Device00005\"");
    ASSERT_NE(at, std::string::npos);
    theirs.replace(at, 18, "name=\"Garage\"");
    WriteWholeFile(path_, theirs);

    ASSERT_EQ(store.Save(), 1) << store.Condition()->saveProblem;
    EXPECT_TRUE(store.Condition()->reloaded);
    XmlDeviceStore& reopened = Reopened();
    EXPECT_NE(reopened.FindDeviceByName("Garage"), 0u);
    EXPECT_EQ(reopened.FindDeviceByName("Device00005"), 0u);
    EXPECT_NE(reopened.FindDeviceByName("Gate"), 0u);
}

}  // namespace
