// The rules of registration over the real store on a database file in a temporary folder.

#include "catalogue/registration.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "catalogue/device_catalogue.h"
#include "store/xml_device_store.h"
#include "temp_folder.h"

namespace vantrel {
namespace {

class Registration : public ::testing::Test {
protected:
    void SetUp() override {
        mkdir((folder.Path() + "XML").c_str(), 0700);
        path = folder.Path() + "XML/Data.xml";
        Open();
    }

    void Open() {
        catalogue.reset();
        store = std::make_unique<XmlDeviceStore>(path);
        catalogue =
            std::make_unique<DeviceCatalogue>(StoreAccess{[this] { return store.get(); }, nullptr}, [](const char*) {});
        catalogue->LoadAll();
    }

    std::uint32_t Add(const char* name, const char* host, std::uint32_t port, std::uint32_t cameras = 2) {
        DeviceRecord record{};
        std::strcpy(record.name, name);
        std::strcpy(record.host, host);
        std::strcpy(record.password, "old-secret");
        record.port = port;
        record.cameras = cameras;
        std::string reason;
        return static_cast<std::uint32_t>(AddOneDevice(*catalogue, *store, record, nullptr, reason));
    }

    DeviceRecord Stored(std::uint32_t id) {
        DeviceRecord record{};
        EXPECT_EQ(store->LoadDeviceRecord(id, &record), 1);
        return record;
    }

    TempFolder folder;
    std::string path;
    std::unique_ptr<XmlDeviceStore> store;
    std::unique_ptr<DeviceCatalogue> catalogue;
};

TEST(RegistrationRules, TextFieldProblems) {
    const std::string longest(63, 'a');
    struct Case {
        std::string text;
        std::size_t reserved;
        bool storedAsText;
        std::string problem;
    } cases[] = {
        {"Lobby", 1, true, ""},
        {longest, 0, true, ""},
        {longest, 1, true, "Name is too long! Together with the device number it must fit in 63 bytes."},
        {longest + "a", 0, true, "Name is too long! It must fit in 63 bytes."},
        {"a<b", 0, true, "Name must not contain a less-than sign (<)!"},
        {"a&b", 0, true, "Name must not contain an ampersand (&)!"},
        {"a\"b", 0, false, "Name must not contain a double quote (\")!"},
        {"a<&b", 0, false, ""},  // enciphered: only the quote matters
    };
    for (const Case& c : cases) {
        EXPECT_EQ(TextFieldProblem(c.text, "Name", c.reserved, c.storedAsText), c.problem) << c.text;
    }
}

TEST(RegistrationRules, FirstFreeNumberSkipsPastTakenNames) {
    std::set<std::string> names{"Lobby1", "Lobby3", "Lobby9"};
    auto taken = [&names](const std::string& name) { return names.count(name) > 0; };
    EXPECT_EQ(FirstFreeNumber("Lobby", 1, taken), 2);
    EXPECT_EQ(FirstFreeNumber("Lobby", 2, taken), 4);
    EXPECT_EQ(FirstFreeNumber("Lobby", 6, taken), 10);
    EXPECT_EQ(FirstFreeNumber("Gate", 8, taken), 1);
}

TEST_F(Registration, RunningNumbersAreUsedUpByRefusedRowsAndRegisteredRowsAreSkipped) {
    Add("Cam2", "10.0.0.50", 8000);
    RegistrationDetails details;
    details.name = "Cam";
    details.password = "pw";
    details.channels = 4;
    details.cameraTypes[1] = kSpeedDome;
    RegistrationReport report = RegisterDevices(
        *catalogue, *store, details, {{"10.0.0.1", 8000}, {"10.0.0.2", 8000}, {"10.0.0.50", 8000}, {"10.0.0.4", 80}});
    EXPECT_TRUE(report.saved);
    EXPECT_EQ(report.registered, 2);
    ASSERT_EQ(report.skipped.size(), 2u);
    EXPECT_EQ(SkippedText(report.skipped[0]), "Cam2 (10.0.0.2:8000): duplicate name");
    EXPECT_EQ(SkippedText(report.skipped[1]), "Cam3 (10.0.0.50:8000): already registered");
    EXPECT_EQ(SummaryText(report), "2 devices were registered, 2 were skipped.");

    Open();  // what the file holds
    std::uint32_t cam4 = store->FindDeviceByName("Cam4");
    ASSERT_NE(cam4, 0u);
    EXPECT_STREQ(Stored(cam4).host, "10.0.0.4");
    std::int32_t types[4] = {};
    store->GetCameraTypes(cam4, types, 4);
    EXPECT_EQ(types[1], kSpeedDome);
    EXPECT_NE(store->FindDeviceByName("Cam1"), 0u);
}

TEST_F(Registration, NameThatOutgrowsItsFieldWithTheNumberIsSkipped) {
    RegistrationDetails details;
    details.name = std::string(62, 'n');
    details.firstNumber = 9;
    RegistrationReport report = RegisterDevices(*catalogue, *store, details, {{"10.0.0.1", 80}, {"10.0.0.2", 80}});
    EXPECT_EQ(report.registered, 1);
    ASSERT_EQ(report.skipped.size(), 1u);
    EXPECT_EQ(report.skipped[0].reason, "name too long");
}

TEST_F(Registration, ChangeKeepsOrReplacesThePasswordAndFollowsTheChannelCount) {
    std::uint32_t id = Add("Gate", "10.0.0.1", 80, 2);
    DeviceRecord record = Stored(id);
    std::memset(record.password, 0, sizeof record.password);
    std::strcpy(record.name, "Door");
    record.cameras = 4;
    ASSERT_EQ(ChangeDevice(*store, id, record, nullptr), "");
    ASSERT_EQ(store->Save(), 1);
    Open();
    DeviceRecord kept = Stored(id);
    EXPECT_STREQ(kept.password, "old-secret");
    EXPECT_STREQ(kept.name, "Door");
    std::uint32_t entries[8] = {};
    EXPECT_EQ(store->GetEntryIds(id, entries, 8), 1);  // four channels, each a video and an alarm entry

    std::strcpy(record.password, "new-secret");
    record.cameras = 1;
    ASSERT_EQ(ChangeDevice(*store, id, record, nullptr), "");
    ASSERT_EQ(store->Save(), 1);
    Open();
    EXPECT_STREQ(Stored(id).password, "new-secret");
    EXPECT_EQ(store->GetEntryIds(id, entries, 3), 0);
    EXPECT_EQ(store->GetEntryIds(id, entries, 2), 1);
}

TEST_F(Registration, ChangeRefusesWhatAddWouldRefuse) {
    std::uint32_t gate = Add("Gate", "10.0.0.1", 80);
    Add("Yard", "10.0.0.2", 80);
    struct Case {
        const char* name;
        const char* host;
        std::uint32_t cameras;
        std::string problem;
    } cases[] = {
        {"Yard", "10.0.0.1", 2, "The name of this device has existed!"},
        {"Gate", "10.0.0.2", 2, "IP or domain name of this device has existed!"},
        {"   ", "10.0.0.1", 2, "Device Name is invalid!"},
        {"Gate", "10.0.0.1", 17, "The channel's number must be between 1 and 16!"},
        {"Ga<te", "10.0.0.1", 2, "Device Name must not contain a less-than sign (<)!"},
        {"Gate", "10.0.0.1", 3, ""},  // its own name and address are no duplicates
    };
    for (const Case& c : cases) {
        DeviceRecord record = Stored(gate);
        std::strcpy(record.name, c.name);
        std::strcpy(record.host, c.host);
        record.cameras = c.cameras;
        EXPECT_EQ(DeviceChangeProblem(*store, gate, record), c.problem) << c.name;
    }
}

TEST_F(Registration, DeviceMovesToAnExistingOrganizationOnly) {
    std::uint32_t north = store->AddOrganization(0, "North");
    std::uint32_t gate = Add("Gate", "10.0.0.1", 80, 1);
    std::uint32_t entry = store->GetChannelId(gate, 0);
    EXPECT_EQ(store->SetDeviceOrganization(gate, north + 100), 0);
    EXPECT_EQ(store->SetDeviceOrganization(entry, north), 0);  // a channel entry is no device
    EXPECT_EQ(store->SetDeviceOrganization(gate + 1000, north), 0);
    ASSERT_EQ(store->SetDeviceOrganization(gate, north), 1);
    ASSERT_EQ(store->Save(), 1);
    Open();
    EXPECT_EQ(Stored(gate).orgId, north);
    ASSERT_EQ(store->SetDeviceOrganization(gate, 0), 1);
    EXPECT_EQ(Stored(gate).orgId, 0u);
}

}  // namespace
}  // namespace vantrel
