#include "context/program_context.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "fake_device_store.h"
#include "password/password.h"
#include "temp_folder.h"

namespace vantrel {
namespace {

DeviceRecord Device(const char* name) {
    DeviceRecord record{};
    std::strcpy(record.name, name);
    std::strcpy(record.host, "10.0.0.7");
    std::strcpy(record.password, "secret");
    record.port = 8000;
    return record;
}

// The real store of a context lives in its data folder, key beside the database, and is opened anew after
// a release, unsaved changes gone.
TEST(ProgramContext, StoreLivesInTheDataFolderAndReleaseDropsUnsavedChanges) {
    TempFolder folder;
    ProgramContext context(PathsBeside(folder.Path()));
    ASSERT_EQ(mkdir(context.Paths().dataFolder.c_str(), 0700), 0);
    DeviceStore* store = context.Store();
    ASSERT_NE(store, nullptr);
    EXPECT_EQ(context.Store(), store);
    DeviceRecord saved = Device("Gate");
    ASSERT_EQ(store->AddDevices(&saved, sizeof saved), 1);
    ASSERT_EQ(store->Save(), 1);
    EXPECT_TRUE(std::filesystem::exists(folder.Path() + "XML/Data.xml"));
    EXPECT_TRUE(std::filesystem::exists(folder.Path() + "XML/Data.key"));
    DeviceRecord unsaved = Device("Yard");
    ASSERT_EQ(context.Store()->AddDevices(&unsaved, sizeof unsaved), 1);

    context.ReleaseStore();
    ASSERT_NE(context.Store(), nullptr);
    EXPECT_EQ(context.Store()->CountDevices(), 1u);
    EXPECT_NE(context.Store()->FindDeviceByName("Gate"), 0u);
}

// Releasing the catalogue releases the store with it; the catalogue's messages reach the context's sink.
TEST(ProgramContext, CatalogueOwnsTheStoreAndTalksThroughTheSink) {
    int opened = 0;
    ProgramContext context(PathsBeside("/nonexistent"), [&opened](const ProgramPaths&) {
        ++opened;
        auto store = std::make_unique<testing::FakeDeviceStore>();
        store->AddLoadedDevice(7, "Gate", "10.0.0.7", 8000, 0);
        return store;
    });
    std::vector<std::string> told;
    context.SetMessageSink([&told](const char* text) { told.emplace_back(text); });

    DeviceCatalogue* catalogue = context.Catalogue();
    ASSERT_NE(catalogue, nullptr);
    EXPECT_EQ(context.Catalogue(), catalogue);
    catalogue->LoadAll();
    EXPECT_EQ(catalogue->AddDevice(Device("Gate")), 0);
    EXPECT_EQ(told, std::vector<std::string>{"The name of this device has existed!"});
    EXPECT_EQ(opened, 1);

    context.ReleaseCatalogue();
    context.ReleaseCatalogue();  // nothing left to release
    ASSERT_NE(context.Store(), nullptr);
    EXPECT_EQ(opened, 2) << "the store went with the catalogue";
}

}  // namespace
}  // namespace vantrel
