// Runs store operations chosen by the input over a document parsed from the rest of the input.

#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "store/xml_device_store.h"

namespace {

class FailingSink : public vantrel::XmlSink {
public:
    bool Write(const char*, std::size_t) override { return false; }
};

// The run's data folder, removed when the fuzzer exits.
class RunFolder {
public:
    RunFolder() {
        char pattern[] = "/tmp/vantrel-store-fuzz-XXXXXX";
        if (mkdtemp(pattern) == nullptr) {
            std::perror("mkdtemp");
            std::abort();
        }
        path_ = std::string(pattern) + "/";
    }
    ~RunFolder() { std::filesystem::remove_all(path_); }
    RunFolder(const RunFolder&) = delete;
    RunFolder& operator=(const RunFolder&) = delete;
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

const std::string& Folder() {
    static RunFolder folder;
    return folder.Path();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    constexpr std::size_t kOps = 12;
    if (size < kOps) {
        return 0;
    }
    using namespace vantrel;
    XmlStoreOptions options;
    options.saveSink = [](int) { return std::make_unique<FailingSink>(); };
    const std::string path = Folder() + "Data.xml";
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        abort();
    }
    std::fwrite(data + kOps, 1, size - kOps, file);
    std::fclose(file);
    XmlDeviceStore store(path, options);

    for (std::size_t i = 0; i < kOps; ++i) {
        std::uint32_t id = data[i] & 0x0F;
        switch (data[i] >> 4) {
            case 0: {
                DeviceRecord record{};
                std::strcpy(record.name, i % 2 ? "Gate" : "Door");
                record.cameras = id;
                store.AddDevices(&record, sizeof record);
                break;
            }
            case 1: {
                std::vector<DeviceRecord> records(store.CountDevices());
                store.LoadDevices(records.data(), static_cast<std::uint32_t>(records.size() * sizeof(DeviceRecord)));
                break;
            }
            case 2: {
                DeviceRecord record{};
                std::strcpy(record.name, "Porch");
                record.cameras = id / 2;
                store.ModifyDevice(id, &record, sizeof record, nullptr);
                break;
            }
            case 3:
                store.RemoveDevice(id, nullptr);
                break;
            case 4: {
                std::int32_t types[16] = {1, 1, 1, 1};
                store.SetCameraTypes(id, types, 16);
                store.GetCameraTypes(id, types, 16);
                break;
            }
            case 5: {
                std::vector<DeviceTreeRecord> records(store.CountDevices());
                store.LoadDeviceTree(records.data(), static_cast<std::uint32_t>(records.size()));
                for (DeviceTreeRecord& record : records) {
                    FreeDeviceTreeEntries(record);
                }
                break;
            }
            case 6: {
                std::vector<MapItem> items;
                store.LoadMapTree(items);
                std::vector<MapEntry> root = {{id, 0, 1, 2}};
                std::vector<MapEntry> below = {{id, 0, 0, 0}, {id + 1, 1, 0, 0}};
                store.SaveMapTree(MapEntriesByParent{{0, &root}, {id, &below}});
                break;
            }
            case 7:
                store.RemoveImage(&id);
                break;
            case 8:
                store.AddOrganization(id % 3, "Org");
                break;
            case 9:
                store.RemoveOrganization(id);
                break;
            case 10: {
                std::vector<OrgRecord> records(store.CountChildOrgs(id));
                store.LoadChildOrgs(id, records.data(), static_cast<std::uint32_t>(records.size() * sizeof(OrgRecord)));
                break;
            }
            case 11: {
                ChannelEntry entries[16];
                store.LoadChannelEntries(id, entries, 16);
                std::uint32_t ids[32];
                store.GetEntryIds(id, ids, 32);
                store.SetEntryName(id, &entries[0]);
                break;
            }
            case 12: {
                ImageRecord image{};
                std::strcpy(image.name, "Floor");
                store.AddImages(&image, sizeof image);
                image.id = id;
                store.ModifyImage(0, &image);
                break;
            }
            case 13:
                store.FindDeviceByAddress("", id);
                store.FindDeviceByDdns("", "", id);
                store.FindDeviceByName("Gate");
                break;
            case 14:
                store.RenameOrganization(id, "Renamed");
                store.FindOrganizationByName(0, "Org");
                break;
            default: {
                std::uint32_t ids[8];
                store.GetOrganizationItemIds(id, ids, 8);
                store.GetChannelId(id, 0);
                store.Save();
                break;
            }
        }
    }
    return 0;
}
