#pragma once

// The DeviceStore over an XML document loaded from the database file.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "store/device_store.h"
#include "store/store_options.h"

namespace vantrel {

// How a store reaches its file; the defaults are the program's.
using XmlStoreOptions = DatabaseFileOptions;

// The operations over the tree of the database file; the units that load, keep and write it are its own.
// No operation lets an exception out: memory running out is a failure.
class XmlDeviceStore : public DeviceStore {
public:
    // Loads databasePath, holding the lock file ".<name>.lock" beside it, and removes the temporary files that
    // interrupted saves left there. A missing or empty file gives an empty database; an unreadable one, a
    // link, FIFO, device or folder in its place, or a file above kMaxXmlFileSize gives an empty database that
    // Save refuses to write (Condition() says why). The password key lives beside it (Data.key).
    explicit XmlDeviceStore(const std::string& databasePath, XmlStoreOptions options = {});
    ~XmlDeviceStore() override;

    XmlDeviceStore(const XmlDeviceStore&) = delete;
    XmlDeviceStore& operator=(const XmlDeviceStore&) = delete;

    int Save() override;
    std::uint32_t FindDeviceByAddress(const char* host, std::uint32_t port) override;
    std::uint32_t CountDevices() override;
    std::uint32_t FindDeviceByName(const char* name) override;
    int LoadDevices(DeviceRecord* records, std::uint32_t size) override;
    int LoadChannelEntries(std::uint32_t deviceId, ChannelEntry* entries, std::uint32_t capacity) override;
    int AddDevices(DeviceRecord* records, std::uint32_t size) override;
    int PlaceholderA(std::uint32_t a, std::uint32_t b, std::uint32_t c) override;
    int RemoveDevice(std::uint32_t deviceId, ChangeNotifier* notifier) override;
    int PlaceholderB(std::uint32_t a, std::uint32_t b, std::uint32_t c) override;
    int ModifyDevice(std::uint32_t deviceId, const DeviceRecord* record, std::uint32_t size,
                     ChangeNotifier* notifier) override;
    std::uint32_t GetChannelId(std::uint32_t deviceId, std::uint32_t channel) override;
    std::uint32_t FindDeviceByDdns(const char* host, const char* ddnsHost, std::uint32_t ddnsPort) override;
    int GetEntryIds(std::uint32_t deviceId, std::uint32_t* ids, std::uint32_t count) override;
    int SetEntryName(std::uint32_t id, const ChannelEntry* entry) override;
    int SetCameraTypes(std::uint32_t deviceId, const std::int32_t* types, std::int32_t count) override;
    int GetCameraTypes(std::uint32_t deviceId, std::int32_t* types, std::int32_t count) override;
    std::uint32_t CountImages() override;
    int LoadImages(ImageRecord* records, std::uint32_t capacity) override;
    int AddImages(ImageRecord* records, std::uint32_t size) override;
    int RemoveImage(const std::uint32_t* imageId) override;
    int ModifyImage(std::uint32_t unused, const ImageRecord* record) override;
    int LoadMapTree(std::vector<MapItem>& items) override;
    int SaveMapTree(const MapEntriesByParent& entries) override;
    int LoadDeviceTree(DeviceTreeRecord* records, std::uint32_t capacity) override;
    std::uint32_t CountChildOrgs(std::uint32_t parentId) override;
    int LoadChildOrgs(std::uint32_t parentId, OrgRecord* records, std::uint32_t size) override;
    int RenameOrganization(std::uint32_t orgId, const char* name) override;
    std::uint32_t AddOrganization(std::uint32_t parentId, const char* name) override;
    int RemoveOrganization(std::uint32_t orgId) override;
    int GetOrganizationItemIds(std::uint32_t orgId, std::uint32_t* ids, std::uint32_t capacity) override;
    std::uint32_t FindOrganizationByName(std::uint32_t parentId, const char* name) override;

    const StoreCondition* Condition() const override;
    std::string SaveRefusal() const override;
    void AgreeToNewKey() override;
    // Looks, on a thread of its own, for the devices the next save can copy as they were read.
    void PrepareSaves() override;
    std::uint32_t CountDeviceRecords() override;
    int LoadDeviceRecords(DeviceRecord* records, std::uint32_t size) override;
    int LoadDeviceRecord(std::uint32_t deviceId, DeviceRecord* record) override;
    int SetDeviceOrganization(std::uint32_t deviceId, std::uint32_t orgId) override;

    const std::string& KeyPath() const;

private:
    class Impl;
    // The store's units, once any preparation for saves has stopped: every operation goes through here.
    Impl& Ready();

    std::unique_ptr<Impl> impl_;
};

}  // namespace vantrel
