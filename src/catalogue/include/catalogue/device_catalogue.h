#pragma once

// The process-wide in-memory picture of the device database: the organization tree and every device,
// each device also grouped under its organization. New devices are checked for duplicates here before
// the store adds them. Used on the user-interface thread only; nothing is locked.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "records/records.h"
#include "store/duplicate_rule.h"

namespace vantrel {

class DeviceStore;

struct OrgEntry {
    std::int32_t id = 0;
    char name[kTextFieldSize] = {};
    std::vector<std::int32_t> childIds;  // direct children, in the store's order
};

struct OrgDeviceList {
    std::int32_t orgId = 0;
    std::vector<std::int32_t> deviceIds;  // in the order loaded or added
};

// How the catalogue reaches the store: get opens it on first use, release destroys it unsaved.
struct StoreAccess {
    std::function<DeviceStore*()> get;
    std::function<void()> release;
};

// Receives every message meant for the operator ("The name of this device has existed!", ...). The program
// shows a modal message box; without a receiver the text goes to standard error.
using CatalogueMessageSink = std::function<void(const char* text)>;

// Why AddDevice refused a device: the store's outcome of an addition.
using AddRefusal = AddOutcome;
// The operator's text of a refusal ("The name of this device has existed!", ...); nullptr for None and for an
// unknown organization, which is refused silently.
const char* AddRefusalText(AddRefusal refusal);

class DeviceCatalogue {
public:
    explicit DeviceCatalogue(StoreAccess store, CatalogueMessageSink sink = nullptr);
    // Frees the device copies and releases the store without saving.
    virtual ~DeviceCatalogue();

    DeviceCatalogue(const DeviceCatalogue&) = delete;
    DeviceCatalogue& operator=(const DeviceCatalogue&) = delete;

    // The organization tree from the root (id 0, empty name), then every device (their passwords are not kept),
    // then tells, once, what the store found in the file (cannot be read, damaged, key missing, passwords that
    // cannot be deciphered). Without a store nothing is loaded.
    void LoadAll();
    // The organization and everything beneath it, children's entries first. An organization whose children cannot
    // be read gets no entry, nor does anything beneath it; a child id met a second time (a cycle or a repeated id
    // in the file) is left out, so that the tree stays a tree.
    void LoadOrganization(std::int32_t orgId, const char* name);
    // Forgets the organization tree and loads it again from the root, after the store's organizations were
    // changed; the devices stay as they are. Without a store the tree is left as it was.
    void ReloadOrganizations();
    // Forgets everything and loads it again from the store, after a Save that took in another program's
    // changes (identifiers of devices added here may have changed); what the store found is not told again.
    void Reload();
    // Brings the copies of these devices up to date after a Save that took in nothing of another program's:
    // changed ones are read again (a moved one goes to the end of its new organization's list), those no longer
    // in the store are forgotten. Much cheaper than Reload on a large database.
    void RefreshDevices(const std::vector<std::int32_t>& deviceIds);

    // The new device's id, or 0 when it was not added: organization unknown (no message), name, address or
    // DDNS settings already registered, or the store failed ("XML failed!", also when there is no store).
    // The copy kept has its password wiped.
    std::int32_t AddDevice(const DeviceRecord& record);
    // The same checks and add, telling nothing: refusal says why a 0 was returned (None on success).
    std::int32_t AddDevice(const DeviceRecord& record, AddRefusal& refusal);
    // The store's SetCameraTypes with the same arguments; 0 without a store.
    int SetCameraTypes(std::int32_t deviceId, const std::int32_t* types, std::int32_t count);

    // nullptr when the id is not held.
    const DeviceRecord* FindDevice(std::int32_t deviceId) const;
    const OrgEntry* FindOrganization(std::int32_t orgId) const;

    const std::map<std::int32_t, std::unique_ptr<DeviceRecord>>& DevicesById() const { return devicesById_; }
    const std::map<std::int32_t, OrgEntry>& OrganizationsById() const { return organizationsById_; }
    const std::map<std::int32_t, OrgDeviceList>& DevicesByOrganization() const { return devicesByOrganization_; }

private:
    void Remember(const DeviceRecord& record);
    // Takes the device out of its organization's list.
    void Forget(std::int32_t deviceId, std::int32_t orgId);
    DeviceStore* Store() const;
    void TellStoreNotices(DeviceStore& store);
    void Tell(const char* text) const;

    std::map<std::int32_t, std::unique_ptr<DeviceRecord>> devicesById_;
    std::map<std::int32_t, OrgEntry> organizationsById_;
    std::map<std::int32_t, OrgDeviceList> devicesByOrganization_;
    StoreAccess store_;
    bool noticesTold_ = false;
    CatalogueMessageSink sink_;
};

}  // namespace vantrel
