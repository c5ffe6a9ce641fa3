#pragma once

// The DeviceStore over an XML document loaded from the database file.

#include <sys/stat.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "store/atomic_save.h"
#include "store/device_scan_cache.h"
#include "store/device_store.h"
#include "xml/xml_document.h"
#include "xml/xml_node_ref.h"

namespace vantrel {

// How a store reaches its file; the defaults are the program's.
struct XmlStoreOptions {
    // How Save writes its bytes into the open temporary file; null writes straight to the descriptor.
    SaveSinkFactory saveSink;
    // How long load and Save wait for another holder of the lock file.
    std::chrono::milliseconds lockTimeout{5000};
};

class XmlDeviceStore : public DeviceStore {
public:
    // Loads databasePath, holding the lock file ".<name>.lock" beside it, and removes the temporary files that
    // interrupted saves left there. A missing or empty file gives an empty database; an unreadable one, a
    // link, FIFO, device or folder in its place, or a file above kMaxXmlFileSize gives an empty database that
    // Save refuses to write (Condition() says why). The password key lives beside it (Data.key).
    explicit XmlDeviceStore(const std::string& databasePath, XmlStoreOptions options = {});
    ~XmlDeviceStore() override;

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

    const StoreCondition* Condition() const override { return &condition_; }
    std::string SaveRefusal() const override { return DescribeSaveRefusal(condition_); }
    void AgreeToNewKey() override { condition_.newKeyAgreed = true; }
    std::uint32_t CountDeviceRecords() override;
    int LoadDeviceRecords(DeviceRecord* records, std::uint32_t size) override;
    int SetDeviceOrganization(std::uint32_t deviceId, std::uint32_t orgId) override;

    const std::string& LockPath() const { return lockPath_; }

    // The loaded document, for tests and benchmarks.
    XmlDocument& Document() { return document_; }
    const std::string& KeyPath() const { return keyPath_; }

private:
    // A change since the load that Save applies again when someone else has changed the file meanwhile.
    struct PendingChange {
        enum Kind { AddDevice, CameraTypes, AddOrganization, RenameOrganization, RemoveOrganization } kind;
        std::uint32_t id = 0;   // the device or organization (for additions: the id it was given)
        DeviceRecord device{};  // AddDevice: the record as added, its password wiped
        std::string text;       // AddDevice: the enciphered password; organization changes: the name
        std::uint32_t parentId = 0;
        std::vector<std::int32_t> types;
    };
    struct LoadedFile {
        bool exists = false;
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = 0;
        struct timespec modified {};
        struct timespec changed {};  // ctime: any write, or a time set back by hand, moves it
        std::uint64_t hash = 0;
        bool hashKnown = false;
        // hash unknown but the document's text is the file's bytes: the hash is taken from it when needed
        bool hashInText = false;
    };

    // What identifies the file's state (hash not yet known).
    static LoadedFile FileAsSeen(const struct stat& info);
    // Reads the file into the document and records how that went; caches start anew.
    void LoadDatabase();
    void ForgetCaches();
    // True when the file at the path is no longer the one loaded (or saved) last; notRegular set when
    // something other than a regular file is there now.
    bool FileChangedSinceLoad(bool& notRegular);
    // Loads the file again and applies the pending changes to it.
    void ReloadAndReapply();
    bool KeepBackupOfDamagedFile();
    void Remember(PendingChange change);
    void ChangedBeyondReplay() { replayable_ = false; }

    // The section if the document has it; creates nothing.
    XmlNodeRef ExistingSection(const char* name) const;

    enum SectionIndex { kGlobal, kDevInfo, kOrgInfo, kImgInfo, kMapInfo, kSectionCount };

    // The section below DATAROOT, created when missing. The first element of a section's name in the walk
    // only changes when something is removed (new elements never take a section's name), so the answer is
    // kept until then.
    XmlNodeRef Section(SectionIndex section);
    // The GLOBAL section when it is an element of that name; empty otherwise.
    XmlNodeRef Global();

    // Appends a new element with a fresh identifier as its first attribute; empty when GLOBAL is unusable
    // or the identifiers are used up.
    XmlNodeRef NewElement(XmlNodeRef parent, const char* name, XmlNodeRef global);
    std::uint32_t NextId(XmlNodeRef global);
    std::uint32_t LargestIdInDocument() const;

    // First element named name (depth-first below section) whose "id" is the "%u" text of id; adds nothing.
    XmlNodeRef FindById(XmlNodeRef section, const char* name, std::uint32_t id);
    void BuildIdIndex();

    // The device whose camera types are asked for; empty for null types, a count past the 8-bit channel
    // numbers, or an unknown device.
    XmlNodeRef CameraTypesDevice(std::uint32_t deviceId, const std::int32_t* types, std::int32_t count);
    // The child of device with "type" t and "channel" c (16 and 8-bit comparisons), or empty.
    XmlNodeRef FindEntry(XmlNodeRef device, std::uint32_t type, std::uint32_t channel);
    // Creates that entry unless it exists; empty when it exists or cannot be created.
    XmlNodeRef CreateEntry(XmlNodeRef device, std::uint32_t type, std::uint32_t channel, const std::string& name,
                           XmlNodeRef global);

    // Removes the first element below start (preorder, at most depthLimit levels further down when not -1)
    // named elementName (any name when null) whose attribute equals value. With protectParents a match that
    // has children stops the walk and nothing is removed. True when something was removed.
    bool RemoveFirstByAttribute(XmlNodeRef start, const char* elementName, const char* attribute,
                                const std::string& value, std::uint32_t depthLimit, bool protectParents);
    // Repeats the removal (any element, "id") while an element with that "id" is left below start.
    void RemoveAllWithId(XmlNodeRef start, const std::string& idText);
    // Every removal passes here, so that no cached section, scan entry or index entry points into the
    // removed subtree.
    void RemoveSubtree(XmlNodeRef parent, std::uint32_t index);

    // The scan cache for this device section, built when it is out of date.
    std::vector<DeviceScanEntry>& DeviceScan(XmlNodeRef devices);
    // First direct child of devices whose "name" is text, adding an empty "name" to each child examined
    // before it that had none.
    XmlNodeRef FindDeviceChildByName(XmlNodeRef devices, const char* text);

    // Enciphers under the key beside the database. Refuses (false) to make a new key while enciphered passwords
    // exist without their key file, unless the operator agreed.
    bool Encrypt(const char* plain, char* cipher);
    // Appends the device of the record with the given enciphered password, its entries and a new id (written
    // into the record); empty when the name is taken or no id can be given.
    XmlNodeRef AddDeviceElement(XmlNodeRef devices, DeviceRecord& record, const char* cipher);
    // Fills record from a "DEV" element (zero-filled first), noting a password that cannot be deciphered.
    void FillDeviceRecord(XmlNodeRef device, DeviceRecord& record);

    XmlDocument document_;
    std::string path_;
    std::string keyPath_;
    XmlStoreOptions options_;

    XmlNodeRef sections_[kSectionCount];
    // "DEV" and "ORG" elements by the number of their "%u" "id"; built on the first search by identifier
    // and kept up to date as elements are added: the elements found by the walk sorted by id (stable, so
    // equal ids keep document order), and those added since.
    std::vector<std::pair<std::uint32_t, XmlNodeRef>> idIndex_;
    std::unordered_multimap<std::uint32_t, XmlNodeRef> idAdded_;
    bool idIndexBuilt_ = false;
    DeviceScanCache scan_;

    std::string lockPath_;
    StoreCondition condition_;
    LoadedFile loaded_;
    std::vector<PendingChange> pending_;
    bool replayable_ = true;  // false once a change was made that Save cannot apply again
    bool replaying_ = false;
};

}  // namespace vantrel
