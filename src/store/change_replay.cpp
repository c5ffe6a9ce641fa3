#include "change_replay.h"

#include <string.h>

#include "store/device_store.h"

namespace vantrel {

std::uint32_t ChangeReplay::IdMap::Organization(std::uint32_t id) const {
    auto found = organizations.find(id);
    return found == organizations.end() ? id : found->second;
}

void ChangeReplay::Remember(PendingChange change) {
    if (!replaying_) {
        pending_.push_back(std::move(change));
    }
}

void ChangeReplay::DeviceAdded(const DeviceRecord& record, const std::string& cipher) {
    PendingChange change{PendingChange::AddDevice, record.id, record, cipher, 0, {}};
    explicit_bzero(change.device.password, sizeof change.device.password);
    Remember(std::move(change));
}

void ChangeReplay::CameraTypesSet(std::uint32_t deviceId, const std::int32_t* types, std::int32_t count) {
    if (count > 0) {
        Remember(PendingChange{PendingChange::CameraTypes, deviceId, DeviceRecord{}, "", 0,
                               std::vector<std::int32_t>(types, types + count)});
    }
}

void ChangeReplay::OrganizationAdded(std::uint32_t id, std::uint32_t parentId, const std::string& name) {
    Remember(PendingChange{PendingChange::AddOrganization, id, DeviceRecord{}, name, parentId, {}});
}

void ChangeReplay::OrganizationRenamed(std::uint32_t id, const std::string& name) {
    Remember(PendingChange{PendingChange::RenameOrganization, id, DeviceRecord{}, name, 0, {}});
}

void ChangeReplay::OrganizationRemoved(std::uint32_t id) {
    Remember(PendingChange{PendingChange::RemoveOrganization, id, DeviceRecord{}, "", 0, {}});
}

void ChangeReplay::Saved() {
    pending_.clear();
    replayable_ = true;
}

bool ChangeReplay::ReplayDevice(ReplayTarget& target, PendingChange& change, IdMap& ids,
                                std::vector<SkippedChange>& skipped) {
    if (change.kind == PendingChange::CameraTypes) {
        if (ids.skippedDevices.count(change.id) > 0) {
            return false;
        }
        auto found = ids.devices.find(change.id);
        std::uint32_t id = found == ids.devices.end() ? change.id : found->second;
        auto count = static_cast<std::int32_t>(change.types.size());
        if (target.Store().SetCameraTypes(id, change.types.data(), count) != 1) {
            return false;
        }
        change.id = id;
        return true;
    }
    DeviceRecord record = change.device;
    record.orgId = ids.Organization(record.orgId);
    SkippedChange skip{AddOutcome::StoreFailed, record.name, record.host, record.port};
    if (record.orgId != 0 && !target.OrganizationExists(record.orgId)) {
        skip.reason = AddOutcome::UnknownOrganization;
    } else if ((skip.reason = FindDuplicateDevice(target.Store(), record)) == AddOutcome::None) {
        if (target.AddDeviceAgain(record, change.text)) {
            ids.devices[change.id] = record.id;
            change.id = record.id;
            change.device.orgId = record.orgId;
            return true;
        }
        skip.reason = AddOutcome::StoreFailed;
    }
    skipped.push_back(std::move(skip));
    ids.skippedDevices[change.id] = true;
    return false;
}

bool ChangeReplay::ReplayOrganization(ReplayTarget& target, PendingChange& change, IdMap& ids,
                                      std::vector<SkippedChange>& skipped) {
    DeviceStore& store = target.Store();
    switch (change.kind) {
        case PendingChange::AddOrganization: {
            std::uint32_t parent = ids.Organization(change.parentId);
            std::uint32_t id = store.AddOrganization(parent, change.text.c_str());
            if (id != 0) {
                ids.organizations[change.id] = id;
                change.id = id;
                change.parentId = parent;
                return true;
            }
            // devices added to ours go to the one of that name already there
            std::uint32_t same = store.FindOrganizationByName(parent, change.text.c_str());
            if (same != 0) {
                ids.organizations[change.id] = same;
            }
            AddOutcome reason = same != 0 ? AddOutcome::DuplicateOrganization : AddOutcome::UnknownOrganization;
            skipped.push_back(SkippedChange{reason, change.text, "", 0});
            return false;
        }
        case PendingChange::RenameOrganization:
            change.id = ids.Organization(change.id);
            if (store.RenameOrganization(change.id, change.text.c_str()) == 1) {
                return true;
            }
            skipped.push_back(SkippedChange{AddOutcome::UnknownOrganization, change.text, "", 0});
            return false;
        default:
            change.id = ids.Organization(change.id);
            store.RemoveOrganization(change.id);
            return true;
    }
}

void ChangeReplay::Replay(ReplayTarget& target, std::vector<SkippedChange>& skipped) {
    std::vector<PendingChange> changes = std::move(pending_);
    pending_.clear();
    replaying_ = true;
    IdMap ids;
    std::vector<PendingChange> kept;
    for (PendingChange& change : changes) {
        bool isDevice = change.kind == PendingChange::AddDevice || change.kind == PendingChange::CameraTypes;
        bool applied =
            isDevice ? ReplayDevice(target, change, ids, skipped) : ReplayOrganization(target, change, ids, skipped);
        if (applied) {
            kept.push_back(std::move(change));
        }
    }
    replaying_ = false;
    // kept in the new identifiers, should this Save fail and the file change once more
    pending_ = std::move(kept);
}

}  // namespace vantrel
