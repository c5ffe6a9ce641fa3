// The catalogue over the real store on a database file in a temporary folder: what the operator is told
// after loading, and what the catalogue keeps of passwords.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "catalogue/device_catalogue.h"
#include "password/password.h"
#include "store/xml_device_store.h"
#include "temp_folder.h"

namespace vantrel {
namespace {

class CatalogueOnStore : public ::testing::Test {
protected:
    void SetUp() override {
        mkdir((folder.Path() + "XML").c_str(), 0700);
        path = folder.Path() + "XML/Data.xml";
    }

    std::unique_ptr<DeviceCatalogue> Load() {
        store = std::make_unique<XmlDeviceStore>(path);
        auto catalogue = std::make_unique<DeviceCatalogue>(StoreAccess{[this] { return store.get(); }, nullptr},
                                                           [this](const char* text) { messages.emplace_back(text); });
        catalogue->LoadAll();
        return catalogue;
    }

    static DeviceRecord Device(const char* name, const char* host) {
        DeviceRecord record{};
        std::strcpy(record.name, name);
        std::strcpy(record.host, host);
        std::strcpy(record.password, "secret");
        record.port = 80;
        record.cameras = 1;
        return record;
    }

    TempFolder folder;
    std::string path;
    std::unique_ptr<XmlDeviceStore> store;
    std::vector<std::string> messages;
};

TEST_F(CatalogueOnStore, KeepsNoPasswordsOfLoadedOrAddedDevices) {
    {
        auto catalogue = Load();
        ASSERT_GT(catalogue->AddDevice(Device("Gate", "10.0.0.1")), 0);
        ASSERT_EQ(store->Save(), 1);
        for (const auto& entry : catalogue->DevicesById()) {
            EXPECT_STREQ(entry.second->password, "");
        }
    }
    auto catalogue = Load();
    ASSERT_EQ(catalogue->DevicesById().size(), 1u);
    EXPECT_STREQ(catalogue->DevicesById().begin()->second->name, "Gate");
    EXPECT_STREQ(catalogue->DevicesById().begin()->second->password, "");
    EXPECT_TRUE(messages.empty());
}

TEST_F(CatalogueOnStore, OnlyDeviceElementsTakeRecords) {
    std::string text = "<DATAROOT><DEVINFO>";
    for (int i = 0; i < 1000; ++i) {
        text += "<x/>";
    }
    WriteWholeFile(path, text + "<DEV id=\"7\" name=\"Gate\"/></DEVINFO></DATAROOT>");
    auto catalogue = Load();
    EXPECT_EQ(store->CountDevices(), 1001u);
    EXPECT_EQ(store->CountDeviceRecords(), 1u);
    ASSERT_EQ(catalogue->DevicesById().size(), 1u);
    EXPECT_STREQ(catalogue->FindDevice(7)->name, "Gate");
    EXPECT_EQ(catalogue->FindDevice(0), nullptr) << "no record for the other children";
}

TEST_F(CatalogueOnStore, TellsOnceWhatTheStoreFound) {
    {
        auto catalogue = Load();
        ASSERT_GT(catalogue->AddDevice(Device("Gate", "10.0.0.1")), 0);
        ASSERT_GT(catalogue->AddDevice(Device("Door", "10.0.0.2")), 0);
        ASSERT_EQ(store->Save(), 1);
    }
    // a changed password text and a NUL byte at the end of the file
    std::string text = ReadWholeFile(path);
    std::string::size_type at = text.find("password=\"v1:") + 20;
    text[at] = text[at] == 'A' ? 'B' : 'A';
    text += '\0';
    WriteWholeFile(path, text);
    auto catalogue = Load();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].rfind(path + " is damaged (NUL byte at byte", 0), 0u) << messages[0];
    EXPECT_EQ(messages[1].rfind("1 password in " + path + " cannot be deciphered", 0), 0u) << messages[1];
    catalogue->LoadAll();
    EXPECT_EQ(messages.size(), 2u) << "told once";

    // without the key: that alone is told, not every password that fails
    std::filesystem::remove(folder.Path() + "XML/Data.key");
    messages.clear();
    WriteWholeFile(path, text.substr(0, text.size() - 1));
    catalogue = Load();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find("the key file " + folder.Path() + "XML/Data.key is missing"), std::string::npos);
}

// After an edit, a removal and a move, refreshing only those devices leaves the catalogue as a fresh load of the
// same store would: the same records, and each organization listing the same devices.
TEST_F(CatalogueOnStore, RefreshOfChangedDevicesMatchesAFreshLoad) {
    auto catalogue = Load();
    std::uint32_t orgId = store->AddOrganization(0, "Yard");
    ASSERT_GT(orgId, 0u);
    catalogue->ReloadOrganizations();
    std::vector<std::int32_t> ids;
    for (const char* name : {"Gate", "Door", "Hall", "Dock"}) {
        std::string host = std::string("10.0.0.") + std::to_string(ids.size() + 1);
        ids.push_back(catalogue->AddDevice(Device(name, host.c_str())));
        ASSERT_GT(ids.back(), 0);
    }
    DeviceRecord changed = Device("Gate 2", "10.0.1.1");
    changed.cameras = 4;
    ASSERT_EQ(store->ModifyDevice(static_cast<std::uint32_t>(ids[0]), &changed, sizeof changed, nullptr), 1);
    ASSERT_EQ(store->RemoveDevice(static_cast<std::uint32_t>(ids[1]), nullptr), 1);
    ASSERT_EQ(store->SetDeviceOrganization(static_cast<std::uint32_t>(ids[2]), orgId), 1);
    catalogue->RefreshDevices({ids[0], ids[1], ids[2], 999});

    DeviceCatalogue fresh(StoreAccess{[this] { return store.get(); }, nullptr}, [](const char*) {});
    fresh.LoadAll();
    ASSERT_EQ(catalogue->DevicesById().size(), fresh.DevicesById().size());
    for (const auto& [id, record] : fresh.DevicesById()) {
        const DeviceRecord* kept = catalogue->FindDevice(id);
        ASSERT_NE(kept, nullptr) << id;
        EXPECT_EQ(std::memcmp(kept, record.get(), sizeof *kept), 0) << record->name;
    }
    auto members = [](const DeviceCatalogue& c) {
        std::map<std::int32_t, std::set<std::int32_t>> byOrg;
        for (const auto& [org, list] : c.DevicesByOrganization()) {
            byOrg[org].insert(list.deviceIds.begin(), list.deviceIds.end());
        }
        return byOrg;
    };
    EXPECT_EQ(members(*catalogue), members(fresh));
    EXPECT_STREQ(catalogue->FindDevice(ids[0])->name, "Gate 2");
    EXPECT_STREQ(catalogue->FindDevice(ids[0])->password, "") << "no password kept";
}

}  // namespace
}  // namespace vantrel
