#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "store_fixture.h"

using namespace vantrel;

namespace {

using StoreDevices = StoreTest;

TEST_F(StoreDevices, EmptyDatabaseCountsZeroAndCreatesTheSection) {
    XmlDeviceStore& store = Open();
    EXPECT_EQ(store.CountDevices(), 0u);
    EXPECT_EQ(store.LoadDevices(nullptr, 0), 1);
    EXPECT_EQ(Text(), "<DATAROOT>\n\t<DEVINFO/>\n</DATAROOT>\n");
}

TEST_F(StoreDevices, AddWritesAttributesAndEntriesInOrder) {
    XmlDeviceStore& store = Open();
    DeviceRecord record = MakeDevice("Gate", 2, "10.0.0.5", 65536 + 80, 5);
    ASSERT_EQ(store.AddDevices(&record, sizeof record), 1);
    EXPECT_EQ(record.id, 1u);

    EXPECT_EQ(SavedSection("GLOBAL").Attribute("index").Value(), "6");
    XmlNodeRef dev = SavedSection("DEVINFO").Child(0);
    const char* names[] = {"id",       "ip",       "name", "host",     "port",  "cameras", "ddnsFlag",
                           "DDNSHost", "DDNSPort", "desc", "username", "OrgId", "password"};
    const char* values[] = {"1", "0", "Gate", "10.0.0.5", "80", "2", "0", "", "0", "", "admin", "5"};
    ASSERT_EQ(dev.AttributeCount(), 13u);
    for (std::uint32_t i = 0; i < 13; ++i) {
        EXPECT_EQ(dev.AttributeAt(i).Name(), names[i]);
        if (i < 12) {
            EXPECT_EQ(dev.AttributeAt(i).Value(), values[i]) << names[i];
        }
    }
    EXPECT_NE(dev.AttributeAt(12).Value(), "secret");

    std::string entries = Text().substr(Text().find("\t\t\t"));
    EXPECT_EQ(entries,
              "\t\t\t<DEV id=\"2\" type=\"0\" name=\"Gate_1\" channel=\"0\" desc=\"\"/>\n"
              "\t\t\t<DEV id=\"3\" type=\"1\" name=\"Gate_alarm1\" channel=\"0\" desc=\"\"/>\n"
              "\t\t\t<DEV id=\"4\" type=\"0\" name=\"Gate_2\" channel=\"1\" desc=\"\"/>\n"
              "\t\t\t<DEV id=\"5\" type=\"1\" name=\"Gate_alarm2\" channel=\"1\" desc=\"\"/>\n"
              "\t\t</DEV>\n\t</DEVINFO>\n\t<GLOBAL index=\"6\"/>\n</DATAROOT>\n");
}

TEST_F(StoreDevices, LoadGivesBackWhatWasAddedWithThePassword) {
    XmlDeviceStore& store = Open();
    DeviceRecord full = MakeDevice(std::string(63, 'n').c_str(), 3, std::string(63, 'h').c_str(), 8000, 7);
    std::memset(full.username, 'u', 63);
    std::memset(full.password, 'p', 63);
    std::memset(full.ddnsHost, 'd', 63);
    full.ddnsFlag = 300;
    full.ddnsPort = 70000;
    full.ip = 123456;
    ASSERT_EQ(store.AddDevices(&full, sizeof full), 1);
    ASSERT_EQ(store.Save(), 1);

    XmlDeviceStore& reopened = Open();
    ASSERT_EQ(reopened.CountDevices(), 1u);
    DeviceRecord loaded;
    std::memset(&loaded, 0xEE, sizeof loaded);
    ASSERT_EQ(reopened.LoadDevices(&loaded, sizeof loaded), 1);
    DeviceRecord expected = full;
    expected.ddnsFlag = 300 & 0xFF;
    EXPECT_EQ(std::memcmp(&loaded, &expected, sizeof loaded), 0);
    EXPECT_STREQ(loaded.password, std::string(63, 'p').c_str());
}

// The one-device load used by an edit: the same record as the whole load gives, and nothing for an id that is
// not a device of the device section (a channel entry shares the element name and the id space).
TEST_F(StoreDevices, LoadOfOneDeviceMatchesTheWholeLoad) {
    XmlDeviceStore& store = Open();
    DeviceRecord added[2] = {MakeDevice("Gate", 2, "10.0.0.1", 8000, 0), MakeDevice("Yard", 3, "10.0.0.2", 9000, 0)};
    std::strcpy(added[1].password, "yard-secret");
    ASSERT_EQ(store.AddDevices(added, sizeof added), 1);
    ASSERT_EQ(store.Save(), 1);

    XmlDeviceStore& reopened = Open();
    DeviceRecord all[2];
    ASSERT_EQ(reopened.LoadDeviceRecords(all, sizeof all), 1);
    DeviceRecord one;
    std::memset(&one, 0xEE, sizeof one);
    ASSERT_EQ(reopened.LoadDeviceRecord(added[1].id, &one), 1);
    EXPECT_EQ(std::memcmp(&one, &all[1], sizeof one), 0);
    EXPECT_STREQ(one.password, "yard-secret");

    std::memset(&one, 0xEE, sizeof one);
    for (std::uint32_t notADevice : {reopened.GetChannelId(added[0].id, 1), added[1].id + 1000, 0u}) {
        EXPECT_EQ(reopened.LoadDeviceRecord(notADevice, &one), 0) << notADevice;
    }
    EXPECT_EQ(one.id, 0xEEEEEEEEu);
    EXPECT_EQ(reopened.LoadDeviceRecord(added[0].id, nullptr), 0);
}

TEST_F(StoreDevices, LoadMasksNumbersAndSkipsOtherChildren) {
    XmlDeviceStore& store = OpenWith(
        "<DATAROOT><DEVINFO>"
        "<DEV id=\"4\" cameras=\"65538\" ddnsFlag=\"257\" port=\"70000\" name=\"A\"/>"
        "<NOTE name=\"x\"/>"
        "</DEVINFO></DATAROOT>");
    EXPECT_EQ(store.CountDevices(), 2u);
    DeviceRecord records[2];
    std::memset(records, 0xAB, sizeof records);
    EXPECT_EQ(store.LoadDevices(records, sizeof records - 1), 0);
    EXPECT_EQ(records[0].id, 0xABABABABu);
    ASSERT_EQ(store.LoadDevices(records, sizeof records), 1);
    EXPECT_EQ(records[0].id, 4u);
    EXPECT_EQ(records[0].cameras, 2u);
    EXPECT_EQ(records[0].ddnsFlag, 1u);
    EXPECT_EQ(records[0].port, 70000u);
    EXPECT_STREQ(records[0].name, "A");
    EXPECT_EQ(records[0].password[0], '\0');
    EXPECT_EQ(records[1].id, 0xABABABABu);
    // the load read every attribute, so the device now carries all of them
    EXPECT_NE(Text().find("<DEV id=\"4\" cameras=\"65538\" ddnsFlag=\"257\" port=\"70000\" name=\"A\" ip=\"\" "
                          "DDNSPort=\"\" OrgId=\"\" host=\"\" username=\"\" DDNSHost=\"\" password=\"\"/>"),
              std::string::npos)
        << Text();
}

TEST_F(StoreDevices, LongStoredTextsAreCutToTheField) {
    std::string longName = std::string(62, 'a') + "\xC3\xA4" + std::string(20, 'b');
    XmlDeviceStore& store = OpenWith("<DATAROOT><DEVINFO><DEV id=\"1\" name=\"" + longName + "\" host=\"" +
                                     std::string(300, 'h') + "\"/></DEVINFO></DATAROOT>");
    DeviceRecord record;
    ASSERT_EQ(store.LoadDevices(&record, sizeof record), 1);
    EXPECT_EQ(std::string(record.name), std::string(62, 'a'));
    EXPECT_EQ(std::string(record.host), std::string(63, 'h'));
}

TEST_F(StoreDevices, LookupsMatchExactTextOfDirectChildrenOnly) {
    XmlDeviceStore& store = Open();
    std::uint32_t gate = Add(MakeDevice("Gate", 1, "10.0.0.1", 80));
    Add(MakeDevice("Gate ", 0, "10.0.0.1 ", 81));
    DeviceRecord ddns = MakeDevice("Dyn", 0, "10.0.0.9", 90);
    ddns.ddnsFlag = 1;
    std::strcpy(ddns.ddnsHost, "cam.example");
    ddns.ddnsPort = 9000;
    std::uint32_t dyn = Add(ddns);

    EXPECT_EQ(store.FindDeviceByName("Gate"), gate);
    EXPECT_EQ(store.FindDeviceByName("gate"), 0u);
    EXPECT_EQ(store.FindDeviceByName("Gate_1"), 0u);
    EXPECT_EQ(store.FindDeviceByName(nullptr), 0u);
    EXPECT_EQ(store.FindDeviceByAddress("10.0.0.1", 80), gate);
    EXPECT_EQ(store.FindDeviceByAddress("10.0.0.1", 81), 0u);
    EXPECT_EQ(store.FindDeviceByAddress(nullptr, 80), 0u);
    EXPECT_EQ(store.FindDeviceByDdns("10.0.0.9", "cam.example", 9000), dyn);
    EXPECT_EQ(store.FindDeviceByDdns("10.0.0.9", "cam.example", 9001), 0u);
    EXPECT_EQ(store.FindDeviceByDdns("10.0.0.9", nullptr, 9000), 0u);
}

TEST_F(StoreDevices, FirstOfTwoEqualAddressesWins) {
    XmlDeviceStore& store = OpenWith(
        "<DATAROOT><DEVINFO><DEV id=\"8\" host=\"h\" port=\"1\"/><DEV id=\"3\" host=\"h\" port=\"1\"/>"
        "</DEVINFO></DATAROOT>");
    EXPECT_EQ(store.FindDeviceByAddress("h", 1), 8u);
}

TEST_F(StoreDevices, AddRefusesWithoutChangingAnything) {
    XmlDeviceStore& store = Open();
    Add(MakeDevice("Gate", 1));
    std::string before = Text();

    DeviceRecord quoted = MakeDevice("Ga\"te", 1);
    DeviceRecord negative = MakeDevice("Neg", 0);
    negative.cameras = static_cast<std::uint32_t>(-1);
    DeviceRecord tooMany = MakeDevice("Many", 65538);
    DeviceRecord unterminated = MakeDevice("Open", 1);
    std::memset(unterminated.host, 'h', sizeof unterminated.host);
    DeviceRecord duplicate = MakeDevice("Gate", 4);
    for (DeviceRecord* record : {&quoted, &negative, &tooMany, &unterminated, &duplicate}) {
        EXPECT_EQ(store.AddDevices(record, sizeof *record), 0) << record->name;
        EXPECT_EQ(record->id, 0u);
        EXPECT_EQ(Text(), before);
    }
    DeviceRecord record = MakeDevice("Other");
    EXPECT_EQ(store.AddDevices(&record, sizeof record - 1), 0);
    EXPECT_EQ(store.AddDevices(nullptr, sizeof record), 0);
    EXPECT_EQ(Text(), before);
}

TEST_F(StoreDevices, AddStopsAtTheFailingRecordKeepingEarlierOnes) {
    XmlDeviceStore& store = Open();
    DeviceRecord pair[2] = {MakeDevice("Gate", 1), MakeDevice("Gate", 1)};
    EXPECT_EQ(store.AddDevices(pair, sizeof pair), 0);
    EXPECT_EQ(pair[0].id, 1u);
    EXPECT_EQ(pair[1].id, 0u);
    EXPECT_EQ(store.CountDevices(), 1u);

    DeviceRecord two[2] = {MakeDevice("North"), MakeDevice("South", 1)};
    ASSERT_EQ(store.AddDevices(two, sizeof two), 1);
    EXPECT_EQ(two[1].id, two[0].id + 1);
    EXPECT_NE(Text().find("name=\"South_alarm1\""), std::string::npos);
}

TEST_F(StoreDevices, AddFailsWhenThePasswordCannotBeEnciphered) {
    XmlDeviceStore& store = Open();
    // a folder where the key file should be makes the key unusable
    mkdir(store.KeyPath().c_str(), 0700);
    DeviceRecord record = MakeDevice("Gate", 1);
    EXPECT_EQ(store.AddDevices(&record, sizeof record), 0);
    EXPECT_EQ(store.CountDevices(), 0u);
}

TEST_F(StoreDevices, IdentifiersContinueAfterTheLargestWhenTheCounterIsLost) {
    struct Case {
        const char* global;
        std::uint32_t expected;
    };
    const Case cases[] = {
        {"", 42},                       // no GLOBAL at all
        {"<GLOBAL/>", 42},              // no index
        {"<GLOBAL index=\"\"/>", 42},   // empty
        {"<GLOBAL index=\"0\"/>", 42},  // zero
        {"<GLOBAL index=\"7\"/>", 7},   // present: trusted
    };
    for (const Case& c : cases) {
        XmlDeviceStore& store = OpenWith(std::string("<DATAROOT>") + c.global +
                                         "<DEVINFO><DEV id=\"3\"><DEV id=\"41\"/></DEV><DEV id=\"041x\"/></DEVINFO>"
                                         "<ORGINFO><ORG id=\"12\"/></ORGINFO></DATAROOT>");
        DeviceRecord record = MakeDevice("New", 1);
        ASSERT_EQ(store.AddDevices(&record, sizeof record), 1);
        EXPECT_EQ(record.id, c.expected) << c.global;
        EXPECT_EQ(store.GetChannelId(record.id, 0), c.expected + 1);
        EXPECT_EQ(SavedSection("GLOBAL").Attribute("index").ValueAsUnsigned(), c.expected + 3);
    }
    XmlDeviceStore& empty = OpenWith("<DATAROOT><GLOBAL index=\"0\"/></DATAROOT>");
    EXPECT_EQ(empty.AddOrganization(0, "North"), 1u);
    EXPECT_EQ(SavedSection("GLOBAL").Attribute("index").Value(), "2");
}

TEST_F(StoreDevices, CameraTypesGoOnVideoEntriesOnly) {
    XmlDeviceStore& store = Open();
    std::uint32_t id = Add(MakeDevice("Gate", 4));
    const std::int32_t types[] = {1, 0, 257, 0};
    ASSERT_EQ(store.SetCameraTypes(id, types, 4), 1);
    std::int32_t read[5] = {9, 9, 9, 9, 9};
    ASSERT_EQ(store.GetCameraTypes(id, read, 5), 1);
    EXPECT_EQ(std::vector<std::int32_t>(read, read + 5), (std::vector<std::int32_t>{1, 0, 1, 0, 9}));
    EXPECT_NE(Text().find("name=\"Gate_1\" channel=\"0\" desc=\"\" CameraType=\"1\""), std::string::npos);
    EXPECT_EQ(Text().find("Gate_alarm1\" channel=\"0\" desc=\"\" CameraType"), std::string::npos);

    const std::int32_t speed[] = {1, 1};
    ASSERT_EQ(store.SetCameraTypes(id, speed, 2), 1);
    ASSERT_EQ(store.GetCameraTypes(id, read, 4), 1);
    EXPECT_EQ(std::vector<std::int32_t>(read, read + 4), (std::vector<std::int32_t>{1, 1, 1, 0}));

    // an entry's own id finds the entry, which has no entries of its own
    std::uint32_t entry = store.GetChannelId(id, 0);
    EXPECT_EQ(store.SetCameraTypes(entry, types, 4), 1);
    EXPECT_EQ(store.SetCameraTypes(999, types, 4), 0);
    EXPECT_EQ(store.SetCameraTypes(id, nullptr, 4), 0);
}

TEST_F(StoreDevices, ChannelAccessors) {
    XmlDeviceStore& store = Open();
    std::uint32_t id = Add(MakeDevice("Gate", 4));
    EXPECT_EQ(store.GetChannelId(id, 2), id + 5);
    EXPECT_EQ(store.GetChannelId(id, 256 + 2), id + 5);
    EXPECT_EQ(store.GetChannelId(id, 4), 0u);

    ChannelEntry entries[4] = {};
    EXPECT_EQ(store.LoadChannelEntries(id, entries, 3), 0);
    EXPECT_EQ(entries[0].id, 0u);
    ASSERT_EQ(store.LoadChannelEntries(id, entries, 4), 1);
    EXPECT_EQ(entries[3].id, id + 7);
    EXPECT_EQ(entries[3].channel, 3u);
    EXPECT_STREQ(entries[3].name, "Gate_4");

    std::uint32_t ids[8] = {};
    EXPECT_EQ(store.GetEntryIds(id, ids, 9), 0);
    ASSERT_EQ(store.GetEntryIds(id, ids, 8), 1);
    for (std::uint32_t i = 0; i < 8; ++i) {
        EXPECT_EQ(ids[i], id + 1 + i);
    }

    ChannelEntry rename{};
    std::strcpy(rename.name, "Porch");
    EXPECT_EQ(store.SetEntryName(id + 1, &rename), 1);
    EXPECT_NE(Text().find("name=\"Porch\""), std::string::npos);
    std::strcpy(rename.name, "Po\"rch");
    EXPECT_EQ(store.SetEntryName(id + 1, &rename), 0);
    EXPECT_EQ(store.SetEntryName(999, &rename), 0);
}

TEST_F(StoreDevices, ModifyGrowsShrinksAndRenames) {
    XmlDeviceStore& store = Open();
    std::uint32_t id = Add(MakeDevice("Gate", 3, "10.0.0.1", 80, 5));
    ChannelEntry porch{};
    std::strcpy(porch.name, "Porch");
    ASSERT_EQ(store.SetEntryName(store.GetChannelId(id, 1), &porch), 1);

    DeviceRecord grown = MakeDevice("Gate", 5, "10.0.0.2", 81, 99);
    ASSERT_EQ(store.ModifyDevice(id, &grown, sizeof grown, nullptr), 1);
    ChannelEntry entries[5];
    ASSERT_EQ(store.LoadChannelEntries(id, entries, 5), 1);
    EXPECT_STREQ(entries[3].name, "Gate_4");
    EXPECT_STREQ(entries[4].name, "Gate_5");
    EXPECT_NE(Text().find("Gate_alarm5"), std::string::npos);

    DeviceRecord renamed = MakeDevice("Door", 2, "10.0.0.2", 81);
    ASSERT_EQ(store.ModifyDevice(id, &renamed, sizeof renamed, nullptr), 1);
    std::string text = Text();
    EXPECT_NE(text.find("name=\"Door_1\""), std::string::npos);
    EXPECT_NE(text.find("name=\"Door_alarm1\""), std::string::npos);
    EXPECT_NE(text.find("name=\"Porch\""), std::string::npos);
    EXPECT_NE(text.find("name=\"Door_alarm2\""), std::string::npos);
    EXPECT_EQ(text.find("_3\""), std::string::npos);
    EXPECT_EQ(text.find("_alarm5"), std::string::npos);
    EXPECT_NE(text.find("OrgId=\"5\""), std::string::npos);
    std::uint32_t ids[5] = {};
    EXPECT_EQ(store.GetEntryIds(id, ids, 5), 0);
    EXPECT_EQ(store.GetEntryIds(id, ids, 4), 1);

    DeviceRecord loaded;
    ASSERT_EQ(store.LoadDevices(&loaded, sizeof loaded), 1);
    EXPECT_STREQ(loaded.name, "Door");
    EXPECT_STREQ(loaded.host, "10.0.0.2");
    EXPECT_STREQ(loaded.password, "secret");
    EXPECT_EQ(loaded.cameras, 2u);
}

TEST_F(StoreDevices, ModifyRefusesBeforeChangingAnything) {
    XmlDeviceStore& store = Open();
    std::uint32_t id = Add(MakeDevice("Gate", 2));
    std::string before = Text();
    DeviceRecord negative = MakeDevice("Gate", 0);
    negative.cameras = static_cast<std::uint32_t>(-5);
    DeviceRecord tooMany = MakeDevice("Gate", 257);
    DeviceRecord quoted = MakeDevice("Gate", 2);
    std::strcpy(quoted.username, "a\"b");
    for (const DeviceRecord* record : {&negative, &tooMany, &quoted}) {
        EXPECT_EQ(store.ModifyDevice(id, record, sizeof *record, nullptr), 0);
        EXPECT_EQ(Text(), before);
    }
    DeviceRecord fine = MakeDevice("Gate", 2);
    EXPECT_EQ(store.ModifyDevice(id, &fine, sizeof fine - 1, nullptr), 0);
    EXPECT_EQ(store.ModifyDevice(999, &fine, sizeof fine, nullptr), 0);
    EXPECT_EQ(store.ModifyDevice(id, nullptr, sizeof fine, nullptr), 0);
}

struct CountingNotifier : ChangeNotifier {
    void OnChanged() override { ++calls; }
    int calls = 0;
};

TEST_F(StoreDevices, RemoveTakesEntriesAndMapItemsButNotTheCounter) {
    XmlDeviceStore& store = Open();
    std::uint32_t gate = Add(MakeDevice("Gate", 2));
    std::uint32_t door = Add(MakeDevice("Door", 1));
    std::vector<MapEntry> root = {{100, 0, 0, 0}};
    std::vector<MapEntry> items = {{gate, 1, 1, 2}, {door, 1, 3, 4}, {gate + 1, 1, 5, 6}};
    MapEntriesByParent map{{0, &root}, {100, &items}};
    ASSERT_EQ(store.SaveMapTree(map), 1);

    CountingNotifier notifier;
    ASSERT_EQ(store.RemoveDevice(gate, &notifier), 1);
    EXPECT_EQ(notifier.calls, 1);
    EXPECT_EQ(store.FindDeviceByName("Gate"), 0u);
    EXPECT_EQ(store.GetChannelId(gate, 0), 0u);
    std::vector<MapItem> loaded;
    store.LoadMapTree(loaded);
    ASSERT_EQ(loaded.size(), 2u);
    EXPECT_EQ(loaded[1].id, door);
    EXPECT_EQ(store.RemoveDevice(gate, &notifier), 0);
    EXPECT_EQ(notifier.calls, 1);
    EXPECT_EQ(Add(MakeDevice("Next")), door + 3);
    EXPECT_EQ(store.FindDeviceByName("Door"), door);
}

}  // namespace

namespace {

TEST_F(StoreDevices, LookupsAddMissingAttributesOnlyUpToTheMatch) {
    XmlDeviceStore& store = OpenWith(
        "<DATAROOT><DEVINFO><DEV id=\"1\"/><DEV id=\"2\" name=\"B\" port=\"5\"/><DEV id=\"3\"/></DEVINFO>"
        "</DATAROOT>");
    EXPECT_EQ(store.FindDeviceByName("B"), 2u);
    EXPECT_EQ(Text(),
              "<DATAROOT>\n\t<DEVINFO>\n\t\t<DEV id=\"1\" name=\"\"/>\n\t\t<DEV id=\"2\" name=\"B\" port=\"5\"/>\n"
              "\t\t<DEV id=\"3\"/>\n\t</DEVINFO>\n</DATAROOT>\n");
    EXPECT_EQ(store.FindDeviceByAddress("x", 5), 0u);
    EXPECT_EQ(Text(),
              "<DATAROOT>\n\t<DEVINFO>\n\t\t<DEV id=\"1\" name=\"\" host=\"\" port=\"\"/>\n"
              "\t\t<DEV id=\"2\" name=\"B\" port=\"5\" host=\"\"/>\n\t\t<DEV id=\"3\" host=\"\" port=\"\"/>\n"
              "\t</DEVINFO>\n</DATAROOT>\n");
    // an empty text matches an attribute that was missing
    EXPECT_EQ(store.FindDeviceByAddress("", 0), 1u);
    EXPECT_EQ(store.FindDeviceByName(""), 1u);
}

TEST_F(StoreDevices, LookupsSeeEachOfRepeatedValuesUntilTheLastGoes) {
    XmlDeviceStore& store = OpenWith(
        "<DATAROOT><DEVINFO>"
        "<DEV id=\"1\" name=\"A\" host=\"h\" port=\"1\" DDNSHost=\"d\" DDNSPort=\"2\"/>"
        "<DEV id=\"2\" name=\"A\" host=\"h\" port=\"1\" DDNSHost=\"d\" DDNSPort=\"2\"/>"
        "</DEVINFO></DATAROOT>");
    struct Expected {
        std::uint32_t removed;  // before the lookups; 0 removes nothing
        std::uint32_t found;
    };
    for (Expected step : {Expected{0, 1}, Expected{1, 2}, Expected{2, 0}}) {
        SCOPED_TRACE(step.removed);
        if (step.removed != 0) {
            ASSERT_EQ(store.RemoveDevice(step.removed, nullptr), 1);
        }
        EXPECT_EQ(store.FindDeviceByName("A"), step.found);
        EXPECT_EQ(store.FindDeviceByAddress("h", 1), step.found);
        EXPECT_EQ(store.FindDeviceByDdns("h", "d", 2), step.found);
    }
    // a device added after the lookups is found by each of them
    std::uint32_t added = Add(MakeDevice("A", 0, "h", 1));
    EXPECT_EQ(store.FindDeviceByName("A"), added);
    EXPECT_EQ(store.FindDeviceByAddress("h", 1), added);
    EXPECT_EQ(store.FindDeviceByAddress("h", 2), 0u);
}

TEST_F(StoreDevices, LookupsOfAbsentValuesStillAddWhatTheWalkWouldAdd) {
    // every device has a name, so an absent name is answered at once; two lack host or port, so an absent
    // address still walks them all once, and afterwards the same lookup changes nothing
    XmlDeviceStore& store = OpenWith(
        "<DATAROOT><DEVINFO><DEV id=\"1\" name=\"A\"/><DEV id=\"2\" name=\"B\" host=\"h\" port=\"5\"/>"
        "<DEV id=\"3\" name=\"C\" port=\"5\"/></DEVINFO></DATAROOT>");
    const std::string untouched = Text();
    EXPECT_EQ(store.FindDeviceByName("Z"), 0u);
    EXPECT_EQ(Text(), untouched);
    const std::string walked =
        "<DATAROOT>\n\t<DEVINFO>\n\t\t<DEV id=\"1\" name=\"A\" host=\"\" port=\"\"/>\n"
        "\t\t<DEV id=\"2\" name=\"B\" host=\"h\" port=\"5\"/>\n\t\t<DEV id=\"3\" name=\"C\" port=\"5\" host=\"\"/>\n"
        "\t</DEVINFO>\n</DATAROOT>\n";
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(store.FindDeviceByAddress("z", 5), 0u);
        EXPECT_EQ(Text(), walked);
    }
    // the attributes the walk added are found as empty texts
    EXPECT_EQ(store.FindDeviceByAddress("", 0), 1u);
}

TEST_F(StoreDevices, LookupsFollowEveryChange) {
    XmlDeviceStore& store = Open();
    std::uint32_t gate = Add(MakeDevice("Gate", 1, "10.0.0.1", 80));
    EXPECT_EQ(store.FindDeviceByName("Gate"), gate);

    ChannelEntry rename{};
    std::strcpy(rename.name, "Renamed");
    ASSERT_EQ(store.SetEntryName(gate, &rename), 1);
    EXPECT_EQ(store.FindDeviceByName("Gate"), 0u);
    EXPECT_EQ(store.FindDeviceByName("Renamed"), gate);

    DeviceRecord moved = MakeDevice("Moved", 1, "10.0.0.2", 81);
    ASSERT_EQ(store.ModifyDevice(gate, &moved, sizeof moved, nullptr), 1);
    EXPECT_EQ(store.FindDeviceByAddress("10.0.0.1", 80), 0u);
    EXPECT_EQ(store.FindDeviceByAddress("10.0.0.2", 81), gate);

    std::uint32_t door = Add(MakeDevice("Door", 0, "10.0.0.3", 80));
    EXPECT_EQ(store.FindDeviceByAddress("10.0.0.3", 80), door);
    ASSERT_EQ(store.RemoveDevice(gate, nullptr), 1);
    EXPECT_EQ(store.FindDeviceByName("Moved"), 0u);
    EXPECT_EQ(store.FindDeviceByName("Door"), door);
    EXPECT_EQ(Add(MakeDevice("Moved")), door + 1);
}

TEST_F(StoreDevices, SearchByIdentifierFindsTheFirstInDocumentOrder) {
    XmlDeviceStore& store = OpenWith(
        "<DATAROOT><DEVINFO>"
        "<DEV id=\"5\" name=\"outer\" cameras=\"1\"><DEV id=\"9\" type=\"0\" channel=\"0\"/></DEV>"
        "<DEV id=\"9\" name=\"later\" cameras=\"1\"/>"
        "<DEV id=\"09\" name=\"padded\"/>"
        "</DEVINFO><GLOBAL index=\"20\"/></DATAROOT>");
    // the nested entry comes first in the walk
    ChannelEntry entries[1] = {};
    EXPECT_EQ(store.LoadChannelEntries(9, entries, 1), 1);
    EXPECT_EQ(store.GetEntryIds(9, nullptr, 0), 0);
    std::uint32_t ids[1] = {};
    EXPECT_EQ(store.GetEntryIds(9, ids, 1), 0) << "the entry has no children";
    ChannelEntry rename{};
    std::strcpy(rename.name, "first");
    ASSERT_EQ(store.SetEntryName(9, &rename), 1);
    EXPECT_NE(Text().find("<DEV id=\"9\" type=\"0\" channel=\"0\" cameras=\"\" name=\"first\"/>"), std::string::npos)
        << Text();
    EXPECT_NE(Text().find("name=\"later\""), std::string::npos);
    // "09" is never the text of 9
    EXPECT_EQ(store.SetEntryName(0, &rename), 0);
    ASSERT_EQ(store.RemoveDevice(9, nullptr), 1);
    EXPECT_EQ(store.FindDeviceByName("outer"), 5u);
    EXPECT_EQ(store.GetChannelId(5, 0), 0u);
    ASSERT_EQ(store.SetEntryName(9, &rename), 1) << "the later device is next";
    EXPECT_EQ(store.FindDeviceByName("first"), 9u);
}

}  // namespace
