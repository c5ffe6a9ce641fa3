#include "catalogue/device_catalogue.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "fake_device_store.h"

namespace vantrel {
namespace {

using testing::FakeDeviceStore;
using Ids = std::vector<std::int32_t>;

class CatalogueTest : public ::testing::Test {
protected:
    std::unique_ptr<DeviceCatalogue> MakeCatalogue() {
        return std::make_unique<DeviceCatalogue>(StoreAccess{[this] { return &store; }, [this] { ++releases; }},
                                                 [this](const char* text) { messages.emplace_back(text); });
    }

    static DeviceRecord NewDevice(const char* name, const char* host, std::uint32_t port, std::uint32_t orgId) {
        DeviceRecord record{};
        std::strcpy(record.name, name);
        std::strcpy(record.host, host);
        record.port = port;
        record.orgId = orgId;
        record.cameras = 4;
        return record;
    }

    FakeDeviceStore store;
    int releases = 0;
    std::vector<std::string> messages;
};

TEST_F(CatalogueTest, LoadAll_EmptyDatabase_HoldsOnlyTheNamelessRoot) {
    auto catalogue = MakeCatalogue();
    catalogue->LoadAll();
    ASSERT_EQ(catalogue->OrganizationsById().size(), 1u);
    const OrgEntry* root = catalogue->FindOrganization(0);
    ASSERT_NE(root, nullptr);
    EXPECT_STREQ(root->name, "");
    EXPECT_TRUE(root->childIds.empty());
    EXPECT_TRUE(catalogue->DevicesById().empty());
    EXPECT_TRUE(catalogue->DevicesByOrganization().empty());
}

TEST_F(CatalogueTest, LoadAll_OrganizationTree_ChildListsInStoreOrder) {
    store.AddOrg(0, 1, "North");
    store.AddOrg(0, 2, "South");
    store.AddOrg(1, 3, "Harbour");
    auto catalogue = MakeCatalogue();
    catalogue->LoadAll();
    ASSERT_EQ(catalogue->OrganizationsById().size(), 4u);
    EXPECT_EQ(catalogue->FindOrganization(0)->childIds, (Ids{1, 2}));
    EXPECT_EQ(catalogue->FindOrganization(1)->childIds, (Ids{3}));
    EXPECT_TRUE(catalogue->FindOrganization(2)->childIds.empty());
    EXPECT_STREQ(catalogue->FindOrganization(3)->name, "Harbour");
    // depth first: organization 1's subtree is read before its sibling 2
    EXPECT_EQ(store.countChildOrgsCalls, (std::vector<std::uint32_t>{0, 1, 3, 2}));
}

TEST_F(CatalogueTest, LoadAll_UnreadableChildren_LeaveThatBranchOutAndGoOn) {
    store.AddOrg(0, 1, "North");
    store.AddOrg(0, 2, "South");
    store.AddOrg(1, 3, "Harbour");
    store.failingParents = {1};
    auto catalogue = MakeCatalogue();
    catalogue->LoadAll();
    EXPECT_EQ(catalogue->FindOrganization(1), nullptr);
    EXPECT_EQ(catalogue->FindOrganization(3), nullptr);
    ASSERT_NE(catalogue->FindOrganization(2), nullptr);
    EXPECT_EQ(catalogue->FindOrganization(0)->childIds, (Ids{1, 2}));
}

TEST_F(CatalogueTest, LoadAll_CyclesAndRepeatedIds_StayATree) {
    store.AddOrg(0, 1, "A");
    store.AddOrg(1, 2, "B");
    store.AddOrg(2, 1, "A again");  // a file whose ids point back up the tree
    store.AddOrg(2, 0, "root again");
    store.AddOrg(0, 2, "B twice");
    auto catalogue = MakeCatalogue();
    catalogue->LoadAll();
    EXPECT_EQ(catalogue->FindOrganization(0)->childIds, (Ids{1}));
    EXPECT_EQ(catalogue->FindOrganization(1)->childIds, (Ids{2}));
    EXPECT_TRUE(catalogue->FindOrganization(2)->childIds.empty());
}

TEST_F(CatalogueTest, LoadAll_VeryDeepTree_LoadsWithoutRecursion) {
    constexpr std::uint32_t kDepth = 200000;
    for (std::uint32_t id = 1; id <= kDepth; ++id) {
        store.AddOrg(id - 1, id, "level");
    }
    auto catalogue = MakeCatalogue();
    catalogue->LoadAll();
    EXPECT_EQ(catalogue->OrganizationsById().size(), kDepth + 1);
    EXPECT_EQ(catalogue->FindOrganization(kDepth - 1)->childIds, (Ids{static_cast<std::int32_t>(kDepth)}));
}

TEST_F(CatalogueTest, LoadAll_Devices_GroupedByOrganizationFirstIdKept) {
    store.AddOrg(0, 1, "North");
    store.AddLoadedDevice(10, "Cam1", "10.0.0.1", 8000, 1);
    store.AddLoadedDevice(11, "Cam2", "10.0.0.2", 8000, 1);
    store.AddLoadedDevice(12, "Orphan", "10.0.0.3", 8000, 99);  // organization not in the tree
    store.AddLoadedDevice(10, "Repeat", "10.0.0.4", 8000, 1);
    auto catalogue = MakeCatalogue();
    catalogue->LoadAll();
    ASSERT_EQ(catalogue->DevicesById().size(), 3u);
    EXPECT_STREQ(catalogue->FindDevice(10)->name, "Cam1");
    EXPECT_EQ(catalogue->DevicesByOrganization().at(1).deviceIds, (Ids{10, 11, 10}));
    EXPECT_EQ(catalogue->DevicesByOrganization().at(99).deviceIds, (Ids{12}));
    EXPECT_EQ(catalogue->FindDevice(13), nullptr);
}

struct RefusalCase {
    const char* what;
    DeviceRecord record;
    const char* message;  // nullptr: refused silently
};

TEST_F(CatalogueTest, AddDevice_Refusals_ToldOnceAndNothingChanges) {
    store.AddOrg(0, 1, "North");
    DeviceRecord& loaded = store.AddLoadedDevice(10, "Cam1", "10.0.0.1", 8000, 1);
    std::strcpy(loaded.ddnsHost, "cam.example");
    loaded.ddnsPort = 7000;
    auto catalogue = MakeCatalogue();
    catalogue->LoadAll();

    DeviceRecord unknownOrg = NewDevice("New", "10.0.0.9", 8000, 5);
    DeviceRecord sameNameAndAddress = NewDevice("Cam1", "10.0.0.1", 8000, 1);
    DeviceRecord sameAddress = NewDevice("Other", "10.0.0.1", 8000, 1);
    DeviceRecord sameDdns = NewDevice("Other", "10.0.0.1", 1, 1);
    sameDdns.ddnsFlag = 1;
    std::strcpy(sameDdns.ddnsHost, "cam.example");
    sameDdns.ddnsPort = 7000;
    const std::vector<RefusalCase> cases = {
        {"organization unknown", unknownOrg, nullptr},
        {"name and address repeated", sameNameAndAddress, "The name of this device has existed!"},
        {"address and port repeated", sameAddress, "IP or domain name of this device has existed!"},
        {"DDNS settings repeated", sameDdns, "The settings of DDNS has existed!"},
    };
    for (const RefusalCase& c : cases) {
        SCOPED_TRACE(c.what);
        messages.clear();
        EXPECT_EQ(catalogue->AddDevice(c.record), 0);
        if (c.message == nullptr) {
            EXPECT_TRUE(messages.empty());
        } else {
            EXPECT_EQ(messages, std::vector<std::string>{c.message});
        }
    }
    EXPECT_EQ(store.addCalls, 0);
    EXPECT_EQ(catalogue->DevicesById().size(), 1u);
}

TEST_F(CatalogueTest, AddDevice_StoreGivesNoId_XmlFailedAndCatalogueUnchanged) {
    auto catalogue = MakeCatalogue();
    catalogue->LoadAll();
    store.failAdd = true;
    EXPECT_EQ(catalogue->AddDevice(NewDevice("Cam1", "10.0.0.1", 8000, 0)), 0);
    EXPECT_EQ(messages, std::vector<std::string>{"XML failed!"});
    EXPECT_TRUE(catalogue->DevicesById().empty());
    EXPECT_TRUE(catalogue->DevicesByOrganization().empty());
}

TEST_F(CatalogueTest, AddDevice_DdnsDeviceAtARegisteredAddress_IsAccepted) {
    store.AddLoadedDevice(10, "Cam1", "10.0.0.1", 8000, 0);
    auto catalogue = MakeCatalogue();
    catalogue->LoadAll();
    DeviceRecord record = NewDevice("Cam2", "10.0.0.1", 8000, 0);
    record.ddnsFlag = 1;
    std::strcpy(record.ddnsHost, "new.example");
    EXPECT_GT(catalogue->AddDevice(record), 0);
    EXPECT_TRUE(messages.empty());
}

TEST_F(CatalogueTest, AddDevice_Added_FollowsLoadedDevicesAndLeavesCallerRecord) {
    store.AddOrg(0, 1, "North");
    store.AddLoadedDevice(10, "Cam1", "10.0.0.1", 8000, 1);
    auto catalogue = MakeCatalogue();
    catalogue->LoadAll();
    DeviceRecord first = NewDevice("Cam2", "10.0.0.2", 8000, 1);
    DeviceRecord second = NewDevice("Cam3", "10.0.0.3", 8000, 1);
    std::int32_t firstId = catalogue->AddDevice(first);
    std::int32_t secondId = catalogue->AddDevice(second);
    EXPECT_EQ(firstId, 1000);
    EXPECT_EQ(secondId, 1001);
    EXPECT_EQ(first.id, 0u);
    EXPECT_EQ(catalogue->DevicesByOrganization().at(1).deviceIds, (Ids{10, firstId, secondId}));
    ASSERT_NE(catalogue->FindDevice(secondId), nullptr);
    EXPECT_STREQ(catalogue->FindDevice(secondId)->name, "Cam3");
    EXPECT_EQ(catalogue->FindDevice(secondId)->id, 1001u);
    EXPECT_TRUE(messages.empty());
}

TEST_F(CatalogueTest, SetCameraTypes_PassesArgumentsAndResultThrough) {
    auto catalogue = MakeCatalogue();
    std::int32_t types[kMaxChannels] = {0, 1, 0, 1};
    EXPECT_EQ(catalogue->SetCameraTypes(42, types, 4), 7);
    ASSERT_EQ(store.cameraTypesCalls.size(), 1u);
    EXPECT_EQ(store.cameraTypesCalls[0].deviceId, 42u);
    EXPECT_EQ(store.cameraTypesCalls[0].count, 4);
    EXPECT_EQ(store.cameraTypesCalls[0].types[1], 1);
}

TEST_F(CatalogueTest, Destruction_ReleasesTheStoreOnce) {
    MakeCatalogue().reset();
    EXPECT_EQ(releases, 1);
    EXPECT_EQ(store.saveCalls, 0);
}

TEST_F(CatalogueTest, NoStore_LoadsNothingAndRefusesDevices) {
    DeviceCatalogue catalogue(StoreAccess{[] { return nullptr; }, nullptr});
    catalogue.LoadAll();
    EXPECT_EQ(catalogue.FindOrganization(0), nullptr);
    EXPECT_EQ(catalogue.AddDevice(NewDevice("Cam1", "10.0.0.1", 8000, 0)), 0);
    EXPECT_EQ(catalogue.SetCameraTypes(1, nullptr, 0), 0);
}

}  // namespace
}  // namespace vantrel
