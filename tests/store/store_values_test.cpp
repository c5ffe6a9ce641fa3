// Values that used to damage the file or lose entries: markup characters from callers, channel counts out of
// range, a change that created an unasked-for section, and removals stopped by a protected match.

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "store_fixture.h"

using namespace vantrel;

namespace {

using StoreValues = StoreTest;

TEST_F(StoreValues, LessThanAndAmpersandAreRefusedByEveryWriteBeforeAnyChange) {
    XmlDeviceStore& store = Open();
    std::uint32_t gate = Add(MakeDevice("Gate", 1));
    std::uint32_t north = store.AddOrganization(0, "North");
    ImageRecord image{};
    std::strcpy(image.name, "Floor");
    ASSERT_EQ(store.AddImages(&image, sizeof image), 1);
    const std::string before = Text();

    for (const char* bad : {"R&D", "a<b"}) {
        SCOPED_TRACE(bad);
        DeviceRecord named = MakeDevice(bad, 1);
        DeviceRecord hosted = MakeDevice("New", 1, bad);
        DeviceRecord user = MakeDevice("New", 1);
        std::strcpy(user.username, bad);
        DeviceRecord ddns = MakeDevice("New", 1);
        std::strcpy(ddns.ddnsHost, bad);
        for (DeviceRecord* record : {&named, &hosted, &user, &ddns}) {
            EXPECT_EQ(store.AddDevices(record, sizeof *record), 0);
            EXPECT_EQ(store.ModifyDevice(gate, record, sizeof *record, nullptr), 0);
        }
        ChannelEntry entry{};
        std::strcpy(entry.name, bad);
        EXPECT_EQ(store.SetEntryName(store.GetChannelId(gate, 0), &entry), 0);
        EXPECT_EQ(store.AddOrganization(0, bad), 0u);
        EXPECT_EQ(store.RenameOrganization(north, bad), 0);
        ImageRecord badImage = image;
        std::strcpy(badImage.desc, bad);
        EXPECT_EQ(store.AddImages(&badImage, sizeof badImage), 0);
        EXPECT_EQ(store.ModifyImage(0, &badImage), 0);
        EXPECT_EQ(Text(), before);
    }
    // a password is stored enciphered, so any character is fine there
    DeviceRecord password = MakeDevice("Other", 1, "10.0.0.2");
    std::strcpy(password.password, "<&\">");
    EXPECT_EQ(store.AddDevices(&password, sizeof password), 1);
}

// A device whose stored "cameras" is out of range, with entries for channels 0 to 3 and a map item for each.
std::string DeviceWithCameras(const char* cameras) {
    std::string text = std::string("<DATAROOT><DEVINFO><DEV id=\"1\" name=\"Gate\" cameras=\"") + cameras + "\">";
    std::string map;
    for (int n = 0; n < 4; ++n) {
        std::string video = std::to_string(10 + 2 * n);
        std::string alarm = std::to_string(11 + 2 * n);
        text += "<DEV id=\"" + video + "\" type=\"0\" name=\"Gate_" + std::to_string(n + 1) + "\" channel=\"" +
                std::to_string(n) + "\"/>";
        text += "<DEV id=\"" + alarm + "\" type=\"1\" name=\"Gate_alarm" + std::to_string(n + 1) + "\" channel=\"" +
                std::to_string(n) + "\"/>";
        map += "<IDEV id=\"" + video + "\"/>";
    }
    return text + "</DEV></DEVINFO><MAPINFO><IIMG id=\"99\">" + map +
           "</IIMG></MAPINFO><GLOBAL index=\"100\"/></DATAROOT>";
}

TEST_F(StoreValues, FewerChannelsKeepTheEntriesOfRemainingChannelsWhateverTheStoredCount) {
    for (const char* cameras : {"4", "300", "999999"}) {
        SCOPED_TRACE(cameras);
        XmlDeviceStore& store = OpenWith(DeviceWithCameras(cameras));
        DeviceRecord two = MakeDevice("Gate", 2);
        ASSERT_EQ(store.ModifyDevice(1, &two, sizeof two, nullptr), 1);
        std::uint32_t ids[4] = {};
        ASSERT_EQ(store.GetEntryIds(1, ids, 4), 1);
        EXPECT_EQ(std::vector<std::uint32_t>(ids, ids + 4), (std::vector<std::uint32_t>{10, 11, 12, 13}));
        EXPECT_EQ(store.GetEntryIds(1, ids, 5), 0) << "channels 2 and 3 are gone";
        std::vector<MapItem> items;
        store.LoadMapTree(items);
        ASSERT_EQ(items.size(), 3u);
        EXPECT_EQ(items[1].id, 10u);
        EXPECT_EQ(items[2].id, 12u);
    }
}

TEST_F(StoreValues, CameraTypesBeyondTheStoredChannelsAreRefusedAndTouchNothing) {
    XmlDeviceStore& store = Open();
    std::uint32_t id = Add(MakeDevice("Gate", 4));
    const std::int32_t first[] = {1, 0, 1, 0};
    ASSERT_EQ(store.SetCameraTypes(id, first, 4), 1);
    std::vector<std::int32_t> many(300, 0);
    EXPECT_EQ(store.SetCameraTypes(id, many.data(), 300), 0);
    EXPECT_EQ(store.GetCameraTypes(id, many.data(), 300), 0);
    std::int32_t read[4] = {};
    ASSERT_EQ(store.GetCameraTypes(id, read, 4), 1);
    EXPECT_EQ(std::vector<std::int32_t>(read, read + 4), (std::vector<std::int32_t>{1, 0, 1, 0}));
    // 256 channels still fit the 8-bit channel numbers
    EXPECT_EQ(store.SetCameraTypes(id, many.data(), 256), 1);
}

TEST_F(StoreValues, StoredCountsOutOfRangeGiveBoundedChannelLists) {
    XmlDeviceStore& store = OpenWith(DeviceWithCameras("999999"));
    std::vector<ChannelEntry> entries(16959);
    ASSERT_EQ(store.LoadChannelEntries(1, entries.data(), 16959), 1);
    EXPECT_EQ(entries[3].id, 16u);
    EXPECT_EQ(entries[256].id, 0u) << "channel 256 is not channel 0 again";
    EXPECT_EQ(entries[259].id, 0u);
}

TEST_F(StoreValues, SuccessfulModifyCreatesNoMapSection) {
    XmlDeviceStore& store = OpenWith("<DATAROOT><DEVINFO/></DATAROOT>");
    std::uint32_t id = Add(MakeDevice("Gate", 3));
    for (std::uint32_t cameras : {3u, 5u, 1u}) {
        DeviceRecord record = MakeDevice("Door", cameras);
        ASSERT_EQ(store.ModifyDevice(id, &record, sizeof record, nullptr), 1);
    }
    EXPECT_EQ(Text().find("MAPINFO"), std::string::npos) << Text();
}

TEST_F(StoreValues, ProtectedMatchNestedDeeperStopsOnlyItsOwnLevel) {
    // channel 2's video entry comes after an element holding a protected (non-empty) match for channel 2
    XmlDeviceStore& store = OpenWith(
        "<DATAROOT><DEVINFO><DEV id=\"1\" name=\"Gate\" cameras=\"3\">"
        "<DEV id=\"2\" type=\"0\" channel=\"0\"/><DEV id=\"3\" type=\"1\" channel=\"0\"/>"
        "<DEV id=\"4\" type=\"0\" channel=\"1\"/><DEV id=\"5\" type=\"1\" channel=\"1\"/>"
        "<NOTE channel=\"9\"><NOTE channel=\"2\"><KEEP/></NOTE><NOTE channel=\"2\"/></NOTE>"
        "<DEV id=\"6\" type=\"0\" channel=\"2\"/><DEV id=\"7\" type=\"1\" channel=\"2\"/>"
        "</DEV></DEVINFO><GLOBAL index=\"8\"/></DATAROOT>");
    DeviceRecord two = MakeDevice("Gate", 2);
    ASSERT_EQ(store.ModifyDevice(1, &two, sizeof two, nullptr), 1);
    std::string text = Text();
    EXPECT_EQ(text.find("id=\"6\""), std::string::npos) << text;
    EXPECT_EQ(text.find("id=\"7\""), std::string::npos) << text;
    EXPECT_NE(text.find("<KEEP/>"), std::string::npos);
    EXPECT_NE(text.find("<NOTE channel=\"2\"/>"), std::string::npos) << "the protected level ended there";
}

TEST_F(StoreValues, RemovingADeviceTakesEveryMapItemOfItInOneWalk) {
    XmlDeviceStore& store = OpenWith(
        "<DATAROOT><DEVINFO><DEV id=\"5\" name=\"Gate\"/></DEVINFO>"
        "<MAPINFO><IIMG id=\"1\"><IDEV id=\"5\"/><IIMG id=\"2\"><IDEV id=\"5\"/><IDEV id=\"6\"/>"
        "<IIMG id=\"5\"><IDEV id=\"5\"/></IIMG></IIMG><IDEV id=\"5\"/></IIMG></MAPINFO></DATAROOT>");
    ASSERT_EQ(store.RemoveDevice(5, nullptr), 1);
    std::vector<MapItem> items;
    store.LoadMapTree(items);
    std::vector<std::uint32_t> ids;
    for (const MapItem& item : items) {
        ids.push_back(item.id);
    }
    EXPECT_EQ(ids, (std::vector<std::uint32_t>{1, 2, 6}));
}

TEST_F(StoreValues, DeviceTreeOfHostileChannelCountsStaysSmall) {
    std::string text = "<DATAROOT><DEVINFO>";
    for (int i = 0; i < 100; ++i) {
        text += "<DEV id=\"" + std::to_string(i + 1) + "\" cameras=\"999999\"/>";
    }
    XmlDeviceStore& store =
        OpenWith(text + "<DEV id=\"200\" cameras=\"20\">" + std::string(40 * 4, ' ') + "</DEV></DEVINFO></DATAROOT>");
    std::vector<DeviceTreeRecord> records(store.CountDevices());
    ASSERT_EQ(store.LoadDeviceTree(records.data(), static_cast<std::uint32_t>(records.size())), 1);
    std::uint64_t slots = 0;
    for (DeviceTreeRecord& record : records) {
        EXPECT_EQ(record.videoCount, record.alarmCount);
        slots += record.videoCount;
        FreeDeviceTreeEntries(record);
    }
    EXPECT_EQ(records[0].videoCount, 16u) << "a device with no entries gets at most 16 empty ones";
    EXPECT_EQ(slots, 100u * 16 + 16);
}

}  // namespace
