#pragma once

// An in-memory DeviceStore holding just what the catalogue asks for: an organization tree, a device list,
// and the calls made to it.

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "store/device_store.h"

namespace vantrel::testing {

class FakeDeviceStore : public DeviceStore {
public:
    struct Org {
        std::uint32_t id;
        std::string name;
    };
    std::map<std::uint32_t, std::vector<Org>> childOrgs;  // parent id -> children
    std::vector<std::uint32_t> failingParents;            // LoadChildOrgs answers 0 for these
    std::vector<DeviceRecord> devices;
    std::uint32_t nextId = 1000;
    bool failAdd = false;
    int addCalls = 0;
    int saveCalls = 0;
    std::vector<std::uint32_t> countChildOrgsCalls;
    struct CameraTypesCall {
        std::uint32_t deviceId;
        std::vector<std::int32_t> types;
        std::int32_t count;
    };
    std::vector<CameraTypesCall> cameraTypesCalls;

    void AddOrg(std::uint32_t parent, std::uint32_t id, const std::string& name) {
        childOrgs[parent].push_back({id, name});
    }
    DeviceRecord& AddLoadedDevice(std::uint32_t id, const char* name, const char* host, std::uint32_t port,
                                  std::uint32_t orgId) {
        DeviceRecord record{};
        record.id = id;
        std::strncpy(record.name, name, sizeof record.name - 1);
        std::strncpy(record.host, host, sizeof record.host - 1);
        record.port = port;
        record.orgId = orgId;
        devices.push_back(record);
        return devices.back();
    }

    int Save() override { return ++saveCalls, 1; }
    std::uint32_t FindDeviceByAddress(const char* host, std::uint32_t port) override {
        for (const DeviceRecord& d : devices) {
            if (std::strcmp(d.host, host) == 0 && d.port == port) {
                return d.id;
            }
        }
        return 0;
    }
    std::uint32_t CountDevices() override { return static_cast<std::uint32_t>(devices.size()); }
    std::uint32_t FindDeviceByName(const char* name) override {
        for (const DeviceRecord& d : devices) {
            if (std::strcmp(d.name, name) == 0) {
                return d.id;
            }
        }
        return 0;
    }
    int LoadDevices(DeviceRecord* records, std::uint32_t size) override {
        if (size < devices.size() * sizeof(DeviceRecord)) {
            return 0;
        }
        std::memcpy(records, devices.data(), devices.size() * sizeof(DeviceRecord));
        return 1;
    }
    int LoadChannelEntries(std::uint32_t, ChannelEntry*, std::uint32_t) override { return 0; }
    int AddDevices(DeviceRecord* records, std::uint32_t size) override {
        ++addCalls;
        if (failAdd || size < sizeof(DeviceRecord)) {
            return 0;
        }
        records->id = nextId++;
        devices.push_back(*records);
        return 1;
    }
    int PlaceholderA(std::uint32_t, std::uint32_t, std::uint32_t) override { return 1; }
    int RemoveDevice(std::uint32_t, ChangeNotifier*) override { return 0; }
    int PlaceholderB(std::uint32_t, std::uint32_t, std::uint32_t) override { return 1; }
    int ModifyDevice(std::uint32_t, const DeviceRecord*, std::uint32_t, ChangeNotifier*) override { return 0; }
    std::uint32_t GetChannelId(std::uint32_t, std::uint32_t) override { return 0; }
    std::uint32_t FindDeviceByDdns(const char* host, const char* ddnsHost, std::uint32_t ddnsPort) override {
        for (const DeviceRecord& d : devices) {
            if (std::strcmp(d.host, host) == 0 && std::strcmp(d.ddnsHost, ddnsHost) == 0 && d.ddnsPort == ddnsPort) {
                return d.id;
            }
        }
        return 0;
    }
    int GetEntryIds(std::uint32_t, std::uint32_t*, std::uint32_t) override { return 0; }
    int SetEntryName(std::uint32_t, const ChannelEntry*) override { return 0; }
    int SetCameraTypes(std::uint32_t deviceId, const std::int32_t* types, std::int32_t count) override {
        cameraTypesCalls.push_back({deviceId, std::vector<std::int32_t>(types, types + kMaxChannels), count});
        return 7;
    }
    int GetCameraTypes(std::uint32_t, std::int32_t*, std::int32_t) override { return 0; }
    std::uint32_t CountImages() override { return 0; }
    int LoadImages(ImageRecord*, std::uint32_t) override { return 0; }
    int AddImages(ImageRecord*, std::uint32_t) override { return 0; }
    int RemoveImage(const std::uint32_t*) override { return 0; }
    int ModifyImage(std::uint32_t, const ImageRecord*) override { return 0; }
    int LoadMapTree(std::vector<MapItem>&) override { return 1; }
    int SaveMapTree(const MapEntriesByParent&) override { return 0; }
    int LoadDeviceTree(DeviceTreeRecord*, std::uint32_t) override { return 0; }
    std::uint32_t CountChildOrgs(std::uint32_t parentId) override {
        countChildOrgsCalls.push_back(parentId);
        auto found = childOrgs.find(parentId);
        return found == childOrgs.end() ? 0 : static_cast<std::uint32_t>(found->second.size());
    }
    int LoadChildOrgs(std::uint32_t parentId, OrgRecord* records, std::uint32_t size) override {
        for (std::uint32_t failing : failingParents) {
            if (failing == parentId) {
                return 0;
            }
        }
        const std::vector<Org>& children = childOrgs[parentId];
        if (size < children.size() * sizeof(OrgRecord)) {
            return 0;
        }
        for (std::size_t i = 0; i < children.size(); ++i) {
            records[i].id = children[i].id;
            std::strncpy(records[i].name, children[i].name.c_str(), sizeof records[i].name - 1);
        }
        return 1;
    }
    int RenameOrganization(std::uint32_t, const char*) override { return 0; }
    std::uint32_t AddOrganization(std::uint32_t, const char*) override { return 0; }
    int RemoveOrganization(std::uint32_t) override { return 0; }
    int GetOrganizationItemIds(std::uint32_t, std::uint32_t*, std::uint32_t) override { return 0; }
    std::uint32_t FindOrganizationByName(std::uint32_t, const char*) override { return 0; }
};

}  // namespace vantrel::testing
