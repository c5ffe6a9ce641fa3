#pragma once

// Our changes since the file was loaded, kept so that a Save which finds the file changed by another program
// can load that program's file and apply them again on top of it: new devices (with their camera types) and
// organization changes. Removals and edits of existing devices, images and the map cannot be applied again;
// after one of them a changed file is not saved over.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "records/records.h"
#include "store/store_condition.h"

namespace vantrel {

class DeviceStore;

// What the replay needs of the store beyond its operations.
class ReplayTarget {
public:
    virtual ~ReplayTarget() = default;
    virtual DeviceStore& Store() = 0;
    virtual bool OrganizationExists(std::uint32_t orgId) = 0;
    // Adds the device with the enciphered password it was added with; its new id goes into record.id.
    virtual bool AddDeviceAgain(DeviceRecord& record, const std::string& cipher) = 0;
};

class ChangeReplay {
public:
    // Recording; ignored while a replay runs (the replay's own operations are not our changes).
    void DeviceAdded(const DeviceRecord& record, const std::string& cipher);
    void CameraTypesSet(std::uint32_t deviceId, const std::int32_t* types, std::int32_t count);
    void OrganizationAdded(std::uint32_t id, std::uint32_t parentId, const std::string& name);
    void OrganizationRenamed(std::uint32_t id, const std::string& name);
    void OrganizationRemoved(std::uint32_t id);
    // A change that cannot be applied again was made.
    void ChangedBeyondReplay() { replayable_ = false; }

    bool Replayable() const { return replayable_; }
    bool Empty() const { return pending_.empty(); }
    // After a successful Save: nothing is pending.
    void Saved();

    // Applies the pending changes to the target (freshly loaded from the other program's file), in the order
    // they were made, following the identifiers they get there. What became a duplicate or lost its
    // organization is left out and listed in skipped. The changes stay pending, in their new identifiers.
    void Replay(ReplayTarget& target, std::vector<SkippedChange>& skipped);

private:
    struct PendingChange {
        enum Kind { AddDevice, CameraTypes, AddOrganization, RenameOrganization, RemoveOrganization } kind;
        std::uint32_t id = 0;   // the device or organization (for additions: the id it was given)
        DeviceRecord device{};  // AddDevice: the record as added, its password wiped
        std::string text;       // AddDevice: the enciphered password; organization changes: the name
        std::uint32_t parentId = 0;
        std::vector<std::int32_t> types;
    };
    // Identifiers given since the load -> those they have in the file replayed onto.
    struct IdMap {
        std::map<std::uint32_t, std::uint32_t> devices;
        std::map<std::uint32_t, std::uint32_t> organizations;
        std::map<std::uint32_t, bool> skippedDevices;
        std::uint32_t Organization(std::uint32_t id) const;
    };
    void Remember(PendingChange change);
    bool ReplayDevice(ReplayTarget& target, PendingChange& change, IdMap& ids, std::vector<SkippedChange>& skipped);
    bool ReplayOrganization(ReplayTarget& target, PendingChange& change, IdMap& ids,
                            std::vector<SkippedChange>& skipped);

    std::vector<PendingChange> pending_;
    bool replayable_ = true;
    bool replaying_ = false;
};

}  // namespace vantrel
