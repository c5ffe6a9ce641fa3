#pragma once

// The units behind the XmlDeviceStore facade and the operations over them. The file itself (lock, load, copies,
// save) is DatabaseFile's job, the document's structure StoreTree's, and applying our changes again over another
// program's file ChangeReplay's. No operation lets an exception out: memory running out is a failure.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "change_replay.h"
#include "database_file.h"
#include "password/key_file.h"
#include "store/xml_device_store.h"
#include "store_tree.h"
#include "xml/xml_document.h"
#include "xml/xml_writer.h"

namespace vantrel {

class XmlDeviceStore::Impl {
public:
    // facade is the store these units serve: the replay of our changes goes through its operations.
    Impl(DeviceStore& facade, const std::string& databasePath, XmlStoreOptions options);
    ~Impl();

    // The operations, as DeviceStore describes them.
    int Save();
    std::uint32_t FindDeviceByAddress(const char* host, std::uint32_t port);
    std::uint32_t CountDevices();
    std::uint32_t FindDeviceByName(const char* name);
    int LoadDevices(DeviceRecord* records, std::uint32_t size);
    int LoadChannelEntries(std::uint32_t deviceId, ChannelEntry* entries, std::uint32_t capacity);
    int AddDevices(DeviceRecord* records, std::uint32_t size);
    int RemoveDevice(std::uint32_t deviceId, ChangeNotifier* notifier);
    int ModifyDevice(std::uint32_t deviceId, const DeviceRecord* record, std::uint32_t size, ChangeNotifier* notifier);
    std::uint32_t GetChannelId(std::uint32_t deviceId, std::uint32_t channel);
    std::uint32_t FindDeviceByDdns(const char* host, const char* ddnsHost, std::uint32_t ddnsPort);
    int GetEntryIds(std::uint32_t deviceId, std::uint32_t* ids, std::uint32_t count);
    int SetEntryName(std::uint32_t id, const ChannelEntry* entry);
    int SetCameraTypes(std::uint32_t deviceId, const std::int32_t* types, std::int32_t count);
    int GetCameraTypes(std::uint32_t deviceId, std::int32_t* types, std::int32_t count);
    std::uint32_t CountImages();
    int LoadImages(ImageRecord* records, std::uint32_t capacity);
    int AddImages(ImageRecord* records, std::uint32_t size);
    int RemoveImage(const std::uint32_t* imageId);
    int ModifyImage(std::uint32_t unused, const ImageRecord* record);
    int LoadMapTree(std::vector<MapItem>& items);
    int SaveMapTree(const MapEntriesByParent& entries);
    int LoadDeviceTree(DeviceTreeRecord* records, std::uint32_t capacity);
    std::uint32_t CountChildOrgs(std::uint32_t parentId);
    int LoadChildOrgs(std::uint32_t parentId, OrgRecord* records, std::uint32_t size);
    int RenameOrganization(std::uint32_t orgId, const char* name);
    std::uint32_t AddOrganization(std::uint32_t parentId, const char* name);
    int RemoveOrganization(std::uint32_t orgId);
    int GetOrganizationItemIds(std::uint32_t orgId, std::uint32_t* ids, std::uint32_t capacity);
    std::uint32_t FindOrganizationByName(std::uint32_t parentId, const char* name);
    std::uint32_t CountDeviceRecords();
    int LoadDeviceRecords(DeviceRecord* records, std::uint32_t size);
    int LoadDeviceRecord(std::uint32_t deviceId, DeviceRecord* record);
    int SetDeviceOrganization(std::uint32_t deviceId, std::uint32_t orgId);

    const StoreCondition& Condition() const { return condition_; }
    void AgreeToNewKey() { condition_.newKeyAgreed = true; }
    const std::string& KeyPath() const { return key_.Path(); }

    // Looks for the devices a save can copy on a thread of its own, until StopPreparing, which every operation
    // calls first: that thread reads the tree while nothing else touches it.
    void PrepareSaves();
    void StopPreparing();

private:
    class Replayer;

    // The store works on this load of the file from now on; caches start anew.
    void Adopt(LoadedDatabase loaded);
    // Loads the file again and applies the pending changes to it; empty, or why Save must not write.
    std::string ReloadAndReapply();
    void ApplyPendingAgain();
    // Looks for the devices a save can copy from the loaded text (XmlVerbatim::Extend), in a large database.
    void FindVerbatimDevices(const std::atomic<bool>* stop = nullptr, bool twoThreads = true);
    // Keeps the copy of a damaged original before it is first written over; empty, or why not.
    std::string KeepCopyOfDamaged();
    // Counts the refusal of an operation whose reason lies beyond its arguments, and gives result.
    template <typename Result>
    Result Refused(Result result, std::string why) {
        condition_.refusal = std::move(why);
        return result;
    }
    template <typename Result>
    Result MemoryRanOut(Result result) {
        return Refused(result, "memory ran out while working on " + file_.Path());
    }
    // Refusal of an addition that got no identifier: the counter's end, or an unusable GLOBAL.
    std::string NoIdentifierReason();

    // First direct child of devices whose "name" is text, adding an empty "name" to each child examined
    // before it that had none.
    XmlNodeRef FindDeviceChildByName(XmlNodeRef devices, const char* text);
    // Enciphers under the key beside the database. Refuses (false) to make a new key while enciphered passwords
    // exist without their key file, unless the operator agreed.
    bool Encrypt(const char* plain, char* cipher);
    // EncryptStringEX under the key; a key that cannot be used is noted in the condition.
    bool EncipherWithKey(const char* plain, char* cipher);
    // True when the stored password of device cannot be deciphered (it is then kept as stored); reads only.
    bool StoredPasswordUnreadable(XmlNodeRef device);
    // Appends the device of the record with the given enciphered password, its entries and a new id (written
    // into the record); empty when the name is taken or no id can be given.
    XmlNodeRef AddDeviceElement(XmlNodeRef devices, DeviceRecord& record, const char* cipher);
    // Fills record from a "DEV" element (zero-filled first); false when its password cannot be deciphered.
    bool FillDeviceRecord(XmlNodeRef device, DeviceRecord& record);
    // The device whose camera types are asked for; empty for null types, a count past the 8-bit channel
    // numbers, or an unknown device.
    XmlNodeRef CameraTypesDevice(std::uint32_t deviceId, const std::int32_t* types, std::int32_t count);
    // The channel entries of channels from first on go, with their map items.
    void RemoveChannelsFrom(XmlNodeRef device, std::uint32_t first, std::uint32_t last);
    // Entries still named after the old device name follow the new one.
    void RenameEntries(XmlNodeRef device, const std::string& oldName, const std::string& newName,
                       std::uint32_t channels);

    DeviceStore& facade_;
    DatabaseFile file_;
    KeyFile key_;
    std::unique_ptr<XmlDocument> document_;
    // The devices a save copies from the loaded text while no change reaches them: found by the first save of
    // this load, or before it in the background (PrepareSaves).
    XmlVerbatim verbatim_;
    StoreTree tree_;
    ChangeReplay replay_;
    StoreCondition condition_;
    std::thread preparing_;
    std::atomic<bool> stopPreparing_{false};
};

}  // namespace vantrel
