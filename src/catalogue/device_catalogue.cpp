#include "catalogue/device_catalogue.h"

#include <string.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>
#include <set>

#include "records/text_field.h"
#include "store/device_store.h"

namespace vantrel {
namespace {

// One organization being loaded: its children as the store gave them, and how far the walk has come.
struct PendingOrganization {
    std::int32_t id = 0;
    char name[kTextFieldSize] = {};
    std::vector<OrgRecord> children;
    std::size_t next = 0;
    std::vector<std::int32_t> childIds;
};

void CopyName(char (&target)[kTextFieldSize], const char* name) {
    std::memset(target, 0, sizeof target);
    CopyToField(target, sizeof target, name != nullptr ? std::string_view(name, strnlen(name, sizeof target)) : "");
}

// The catalogue needs no password to add devices: none stays in its memory.
void WipePassword(DeviceRecord& record) {
    explicit_bzero(record.password, sizeof record.password);
}

// The texts a file gave can fill their fields: each ends within its field.
void TerminateTexts(DeviceRecord& record) {
    record.name[kTextFieldSize - 1] = '\0';
    record.host[kTextFieldSize - 1] = '\0';
    record.username[kTextFieldSize - 1] = '\0';
    record.ddnsHost[kTextFieldSize - 1] = '\0';
}

// Reads the children of pending.id; false when the organization must get no entry.
bool ReadChildren(DeviceStore& store, PendingOrganization& pending) {
    std::uint32_t count = store.CountChildOrgs(static_cast<std::uint32_t>(pending.id));
    if (count == 0) {
        return true;
    }
    if (count > std::numeric_limits<std::uint32_t>::max() / sizeof(OrgRecord)) {
        return false;
    }
    try {
        pending.children.assign(count, OrgRecord{});
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (store.LoadChildOrgs(static_cast<std::uint32_t>(pending.id), pending.children.data(),
                            count * static_cast<std::uint32_t>(sizeof(OrgRecord))) == 0) {
        return false;
    }
    for (OrgRecord& child : pending.children) {
        child.name[kTextFieldSize - 1] = '\0';
    }
    return true;
}

}  // namespace

DeviceCatalogue::DeviceCatalogue(StoreAccess store, CatalogueMessageSink sink)
    : store_(std::move(store)), sink_(std::move(sink)) {}

DeviceCatalogue::~DeviceCatalogue() {
    devicesById_.clear();
    organizationsById_.clear();
    devicesByOrganization_.clear();
    if (store_.release) {
        store_.release();
    }
}

DeviceStore* DeviceCatalogue::Store() const {
    return store_.get ? store_.get() : nullptr;
}

void DeviceCatalogue::Tell(const char* text) const {
    if (sink_) {
        sink_(text);
    } else {
        std::fprintf(stderr, "%s\n", text);
    }
}

void DeviceCatalogue::LoadOrganization(std::int32_t orgId, const char* name) {
    DeviceStore* store = Store();
    if (store == nullptr) {
        return;
    }
    // an explicit stack: the depth of the tree comes from the file
    std::vector<PendingOrganization> stack(1);
    stack.back().id = orgId;
    CopyName(stack.back().name, name);
    std::set<std::int32_t> seen{orgId};
    if (!ReadChildren(*store, stack.back())) {
        return;
    }
    while (!stack.empty()) {
        PendingOrganization& top = stack.back();
        if (top.next < top.children.size()) {
            const OrgRecord& child = top.children[top.next++];
            auto childId = static_cast<std::int32_t>(child.id);
            if (!seen.insert(childId).second) {
                continue;
            }
            top.childIds.push_back(childId);
            PendingOrganization next;
            next.id = childId;
            CopyName(next.name, child.name);
            if (ReadChildren(*store, next)) {
                stack.push_back(std::move(next));
            }
            continue;
        }
        OrgEntry entry;
        entry.id = top.id;
        std::memcpy(entry.name, top.name, sizeof entry.name);
        entry.childIds = std::move(top.childIds);
        organizationsById_[entry.id] = std::move(entry);
        stack.pop_back();
    }
}

void DeviceCatalogue::ReloadOrganizations() {
    if (Store() == nullptr) {
        return;
    }
    organizationsById_.clear();
    LoadOrganization(0, "");
}

void DeviceCatalogue::Reload() {
    if (Store() == nullptr) {
        return;
    }
    devicesById_.clear();
    organizationsById_.clear();
    devicesByOrganization_.clear();
    LoadAll();
}

void DeviceCatalogue::Remember(const DeviceRecord& record) {
    auto id = static_cast<std::int32_t>(record.id);
    auto inserted = devicesById_.emplace(id, nullptr);
    if (inserted.second) {
        inserted.first->second = std::make_unique<DeviceRecord>(record);
    }
    auto orgId = static_cast<std::int32_t>(record.orgId);
    OrgDeviceList& list = devicesByOrganization_[orgId];
    list.orgId = orgId;
    list.deviceIds.push_back(id);
}

void DeviceCatalogue::Forget(std::int32_t deviceId, std::int32_t orgId) {
    auto list = devicesByOrganization_.find(orgId);
    if (list == devicesByOrganization_.end()) {
        return;
    }
    std::vector<std::int32_t>& ids = list->second.deviceIds;
    ids.erase(std::remove(ids.begin(), ids.end(), deviceId), ids.end());
    if (ids.empty()) {
        devicesByOrganization_.erase(list);
    }
}

void DeviceCatalogue::RefreshDevices(const std::vector<std::int32_t>& deviceIds) {
    DeviceStore* store = Store();
    if (store == nullptr) {
        return;
    }
    for (std::int32_t id : deviceIds) {
        DeviceRecord record{};
        bool held = store->LoadDeviceRecord(static_cast<std::uint32_t>(id), &record) != 0;
        WipePassword(record);
        TerminateTexts(record);
        auto kept = devicesById_.find(id);
        if (kept != devicesById_.end() && held && kept->second->orgId == record.orgId) {
            *kept->second = record;  // keeps its place in its organization's list
            continue;
        }
        if (kept != devicesById_.end()) {
            Forget(id, static_cast<std::int32_t>(kept->second->orgId));
            devicesById_.erase(kept);
        }
        if (held) {
            Remember(record);
        }
    }
}

void DeviceCatalogue::LoadAll() {
    DeviceStore* store = Store();
    if (store == nullptr) {
        return;
    }
    LoadOrganization(0, "");
    // records for the devices alone: other children of the device section take none
    std::uint32_t count = store->CountDeviceRecords();
    if (count > 0 && count <= std::numeric_limits<std::uint32_t>::max() / sizeof(DeviceRecord)) {
        std::vector<DeviceRecord> records;
        try {
            records.assign(count, DeviceRecord{});
        } catch (const std::bad_alloc&) {
            records.clear();
        }
        if (!records.empty()) {
            // whatever the array holds afterwards is taken, also when the store reports a failure
            store->LoadDeviceRecords(records.data(), count * static_cast<std::uint32_t>(sizeof(DeviceRecord)));
            for (DeviceRecord& record : records) {
                WipePassword(record);
                TerminateTexts(record);
                Remember(record);
            }
        }
    }
    TellStoreNotices(*store);
}

void DeviceCatalogue::TellStoreNotices(DeviceStore& store) {
    const StoreCondition* condition = store.Condition();
    if (condition == nullptr || noticesTold_) {
        return;
    }
    noticesTold_ = true;
    for (const std::string& notice : StoreNotices(*condition)) {
        Tell(notice.c_str());
    }
}

const char* AddRefusalText(AddRefusal refusal) {
    switch (refusal) {
        case AddRefusal::DuplicateName:
            return "The name of this device has existed!";
        case AddRefusal::DuplicateDdns:
            return "The settings of DDNS has existed!";
        case AddRefusal::DuplicateAddress:
            return "IP or domain name of this device has existed!";
        case AddRefusal::StoreFailed:
            return "XML failed!";
        case AddRefusal::None:
        case AddRefusal::UnknownOrganization:
        case AddRefusal::DuplicateOrganization:
            break;
    }
    return nullptr;
}

std::int32_t DeviceCatalogue::AddDevice(const DeviceRecord& record) {
    AddRefusal refusal = AddRefusal::None;
    std::int32_t id = AddDevice(record, refusal);
    if (const char* text = AddRefusalText(refusal)) {
        // the store says why it did not take the device, when it knows (identifiers used up, ...)
        DeviceStore* store = refusal == AddRefusal::StoreFailed ? Store() : nullptr;
        const StoreCondition* condition = store != nullptr ? store->Condition() : nullptr;
        std::string why = condition != nullptr ? condition->refusal : std::string();
        Tell(why.empty() ? text : (std::string(text) + "\n" + why).c_str());
    }
    return id;
}

std::int32_t DeviceCatalogue::AddDevice(const DeviceRecord& record, AddRefusal& refusal) {
    refusal = AddRefusal::None;
    if (organizationsById_.count(static_cast<std::int32_t>(record.orgId)) == 0) {
        refusal = AddRefusal::UnknownOrganization;
        return 0;
    }
    DeviceStore* store = Store();
    if (store == nullptr) {
        refusal = AddRefusal::StoreFailed;
        return 0;
    }
    refusal = FindDuplicateDevice(*store, record);
    if (refusal != AddRefusal::None) {
        return 0;
    }
    DeviceRecord copy = record;
    copy.id = 0;
    store->AddDevices(&copy, sizeof copy);
    WipePassword(copy);
    auto id = static_cast<std::int32_t>(copy.id);
    if (id <= 0) {
        refusal = AddRefusal::StoreFailed;
        return 0;
    }
    Remember(copy);
    return id;
}

int DeviceCatalogue::SetCameraTypes(std::int32_t deviceId, const std::int32_t* types, std::int32_t count) {
    DeviceStore* store = Store();
    if (store == nullptr) {
        return 0;
    }
    return store->SetCameraTypes(static_cast<std::uint32_t>(deviceId), types, count);
}

const DeviceRecord* DeviceCatalogue::FindDevice(std::int32_t deviceId) const {
    auto found = devicesById_.find(deviceId);
    return found == devicesById_.end() ? nullptr : found->second.get();
}

const OrgEntry* DeviceCatalogue::FindOrganization(std::int32_t orgId) const {
    auto found = organizationsById_.find(orgId);
    return found == organizationsById_.end() ? nullptr : &found->second;
}

}  // namespace vantrel
