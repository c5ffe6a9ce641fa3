#pragma once

// The device database behind XML/Data.xml. Callers reach it through the abstract DeviceStore;
// the slot order of its operations is fixed.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "records/records.h"
#include "store/store_condition.h"
#include "store/store_records.h"

namespace vantrel {

// Told once after a successful RemoveDevice or ModifyDevice.
class ChangeNotifier {
public:
    virtual ~ChangeNotifier() = default;
    virtual void OnChanged() = 0;
};

// Parent id (0 for the root) -> that parent's items in order; a null list makes SaveMapTree fail.
using MapEntriesByParent = std::map<std::uint32_t, const std::vector<MapEntry>*>;

// All operations work on the in-memory document; only Save and SaveMapTree write the file.
// Results: 1/0 for success/failure, an identifier with 0 for none, or a count. Nothing throws.
// Array sizes are in bytes where the name says size, in records where it says capacity or count.
class DeviceStore {
public:
    // 0: atomically replaces the file; 0 (file untouched, SaveRefusal or Condition()->saveProblem says why) when
    // the file could not be read at load, is nested too deep, is not a regular file, is locked, was changed
    // by someone else in a way the store cannot merge, or any write step fails.
    virtual int Save() = 0;
    // 1: id of the first device with exactly this host and port; 0 for none or a null text.
    virtual std::uint32_t FindDeviceByAddress(const char* host, std::uint32_t port) = 0;
    // 2: number of child nodes of the device section, whatever their kind.
    virtual std::uint32_t CountDevices() = 0;
    // 3: id of the device with exactly this name; 0 for none or a null text.
    virtual std::uint32_t FindDeviceByName(const char* name) = 0;
    // 4: fills one record per child of the device section; 0 and nothing written when size is too small.
    virtual int LoadDevices(DeviceRecord* records, std::uint32_t size) = 0;
    // 5: 0 when the array is null, the device unknown, or capacity below its "cameras".
    virtual int LoadChannelEntries(std::uint32_t deviceId, ChannelEntry* entries, std::uint32_t capacity) = 0;
    // 6: adds size / 416 records and writes their new ids; 0 at the first record that fails (earlier ones stay).
    virtual int AddDevices(DeviceRecord* records, std::uint32_t size) = 0;
    // 7: does nothing, always 1.
    virtual int PlaceholderA(std::uint32_t a, std::uint32_t b, std::uint32_t c) = 0;
    // 8: removes the device, its entries and their map items; 0 when not found.
    virtual int RemoveDevice(std::uint32_t deviceId, ChangeNotifier* notifier) = 0;
    // 9: does nothing, always 1.
    virtual int PlaceholderB(std::uint32_t a, std::uint32_t b, std::uint32_t c) = 0;
    // 10: rewrites the device from the record, adding or removing channel entries; 0 and nothing changed on refusal.
    virtual int ModifyDevice(std::uint32_t deviceId, const DeviceRecord* record, std::uint32_t size,
                             ChangeNotifier* notifier) = 0;
    // 11: id of the device's video-channel entry (low 8 bits of channel count), or 0.
    virtual std::uint32_t GetChannelId(std::uint32_t deviceId, std::uint32_t channel) = 0;
    // 12: id of the first device matching host, DDNS host and DDNS port; 0 for none or a null text.
    virtual std::uint32_t FindDeviceByDdns(const char* host, const char* ddnsHost, std::uint32_t ddnsPort) = 0;
    // 13: ids of the device's first count children; 0 when it has fewer.
    virtual int GetEntryIds(std::uint32_t deviceId, std::uint32_t* ids, std::uint32_t count) = 0;
    // 14: renames the "DEV" element with this id; 0 when unknown or the name cannot be stored.
    virtual int SetEntryName(std::uint32_t id, const ChannelEntry* entry) = 0;
    // 15: writes the low byte of types[i] on video-channel entry i; 0 when the device is unknown.
    virtual int SetCameraTypes(std::uint32_t deviceId, const std::int32_t* types, std::int32_t count) = 0;
    // 16: reads the camera types of the first count video-channel entries; missing entries leave their slot.
    virtual int GetCameraTypes(std::uint32_t deviceId, std::int32_t* types, std::int32_t count) = 0;
    // 17: number of child nodes of the image section.
    virtual std::uint32_t CountImages() = 0;
    // 18: 0 when capacity is below the number of children of the image section.
    virtual int LoadImages(ImageRecord* records, std::uint32_t capacity) = 0;
    // 19: adds size / 516 images and writes their new ids; 0 when size is below 516.
    virtual int AddImages(ImageRecord* records, std::uint32_t size) = 0;
    // 20: removes the image's map items, then the image unless it has children; 0 for a null address.
    virtual int RemoveImage(const std::uint32_t* imageId) = 0;
    // 21: rewrites the direct "IMG" child with record->id; 0 when there is none.
    virtual int ModifyImage(std::uint32_t unused, const ImageRecord* record) = 0;
    // 22: appends the map tree depth first, the root item first; always 1.
    virtual int LoadMapTree(std::vector<MapItem>& items) = 0;
    // 23: replaces the map tree and saves on success; 0 when the rebuild fails (the old tree is gone by then).
    virtual int SaveMapTree(const MapEntriesByParent& entries) = 0;
    // 24: fills one record per device, allocating its entry arrays (FreeDeviceTreeEntries releases them).
    virtual int LoadDeviceTree(DeviceTreeRecord* records, std::uint32_t capacity) = 0;
    // 25: number of child nodes of the organization (0 = top level); 0 when unknown.
    virtual std::uint32_t CountChildOrgs(std::uint32_t parentId) = 0;
    // 26: fills one record per child; 1 with nothing written when the parent is unknown, 0 when size is too small.
    virtual int LoadChildOrgs(std::uint32_t parentId, OrgRecord* records, std::uint32_t size) = 0;
    // 27: 0 when the text is null or cannot be stored, or the organization is unknown.
    virtual int RenameOrganization(std::uint32_t orgId, const char* name) = 0;
    // 28: id of the new organization; 0 when the parent is unknown or a sibling already has the name.
    virtual std::uint32_t AddOrganization(std::uint32_t parentId, const char* name) = 0;
    // 29: removes the organization and everything below it; devices keep their "OrgId"; 0 for id 0.
    virtual int RemoveOrganization(std::uint32_t orgId) = 0;
    // 30: ids of the organization's "IIMG"/"IDEV" children; 0 when capacity is below its child count.
    virtual int GetOrganizationItemIds(std::uint32_t orgId, std::uint32_t* ids, std::uint32_t capacity) = 0;
    // 31: id of the parent's child organization with exactly this name, or 0.
    virtual std::uint32_t FindOrganizationByName(std::uint32_t parentId, const char* name) = 0;

    virtual ~DeviceStore() = default;

    // Beyond the 32 operations (declared after the destructor, so that the slots above keep their places).
    // The defaults suit a store that keeps no file.

    // How the file was found at load and what the last Save did; nullptr when the store keeps no such record.
    virtual const StoreCondition* Condition() const { return nullptr; }
    // One line naming the file and why Save would write nothing now; empty when it may.
    virtual std::string SaveRefusal() const { return std::string(); }
    // The operator agreed that a new password key may be made although enciphered passwords exist whose key
    // file is missing (they stay unreadable under the new key). Without it such an add is refused.
    virtual void AgreeToNewKey() {}
    // Uses the time until the next call to make the next save quicker; any other call ends that first (the
    // default does nothing).
    virtual void PrepareSaves() {}
    // Number of "DEV" children of the device section, and a load of those alone, one record each, in document
    // order (other children take no record); 0 and nothing written when size is too small.
    virtual std::uint32_t CountDeviceRecords() { return CountDevices(); }
    virtual int LoadDeviceRecords(DeviceRecord* records, std::uint32_t size) { return LoadDevices(records, size); }
    // The record of one "DEV" child of the device section, its password deciphered as LoadDeviceRecords does;
    // 0 and nothing written when no device has that id. The default loads them all and picks the one.
    virtual int LoadDeviceRecord(std::uint32_t deviceId, DeviceRecord* record);
    // Puts the device (a "DEV" child of the device section) into the organization: 0 for the top level, else an
    // existing organization's id. 0 and nothing changed when either is unknown.
    virtual int SetDeviceOrganization(std::uint32_t deviceId, std::uint32_t orgId) {
        (void)deviceId;
        (void)orgId;
        return 0;
    }
};

// Opens the database at this path (missing or unreadable file: empty database). Never null.
std::unique_ptr<DeviceStore> OpenDeviceStore(const std::string& databasePath);

}  // namespace vantrel
