// What loading costs in memory for hostile files, counted by the bytes asked of operator new (the XML tree's
// own arena is not counted: it is proportional to the file by construction).

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>

#include "catalogue/device_catalogue.h"
#include "password/password.h"
#include "store/xml_device_store.h"
#include "temp_folder.h"

namespace {

std::atomic<std::size_t> gAllocated{0};

}  // namespace

void* operator new(std::size_t size) {
    gAllocated += size;
    if (void* p = std::malloc(size == 0 ? 1 : size)) {
        return p;
    }
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

namespace vantrel {
namespace {

TEST(CatalogueCost, MillionEmptyChildrenOfTheDeviceSectionTakeNoRecords) {
    TempFolder folder;
    mkdir((folder.Path() + "XML").c_str(), 0700);
    std::string path = folder.Path() + "XML/Data.xml";
    std::string text = "<DATAROOT><DEVINFO>";
    text.reserve(5'000'000);
    for (int i = 0; i < 1'000'000; ++i) {
        text += "<a/>";
    }
    WriteWholeFile(path, text + "</DEVINFO></DATAROOT>");
    XmlDeviceStore store(path);
    std::size_t before = gAllocated;
    {
        DeviceCatalogue catalogue(StoreAccess{[&store] { return &store; }, nullptr}, [](const char*) {});
        catalogue.LoadAll();
        EXPECT_TRUE(catalogue.DevicesById().empty());
    }
    // 416 bytes a child would be 416 MB
    EXPECT_LT(gAllocated - before, std::size_t{1} << 20);
}

TEST(CatalogueCost, HostileChannelCountsCostNoMoreThanTheFile) {
    TempFolder folder;
    mkdir((folder.Path() + "XML").c_str(), 0700);
    std::string path = folder.Path() + "XML/Data.xml";
    std::string text = "<DATAROOT><DEVINFO>";
    for (int i = 0; i < 100; ++i) {
        text += "<DEV id=\"" + std::to_string(i + 1) + "\" cameras=\"999999\"/>";
    }
    WriteWholeFile(path, text + "</DEVINFO></DATAROOT>");
    XmlDeviceStore store(path);
    std::vector<DeviceTreeRecord> records(store.CountDevices());
    std::size_t before = gAllocated;
    ASSERT_EQ(store.LoadDeviceTree(records.data(), static_cast<std::uint32_t>(records.size())), 1);
    // 16 empty entries of 780 bytes each per device, against 13 MB each for 16959 channels
    EXPECT_LT(gAllocated - before, std::size_t{2} << 20);
    for (DeviceTreeRecord& record : records) {
        FreeDeviceTreeEntries(record);
    }
}

}  // namespace
}  // namespace vantrel
