// Device operations of the XML-backed store.

#include <string.h>
#include <cstdio>

#include <cstring>
#include <new>

#include "password/password.h"
#include "store/attribute_copy.h"
#include "store/store_text.h"
#include "store/xml_device_store.h"

namespace vantrel {
namespace {

constexpr std::uint32_t kDeviceRecordSize = sizeof(DeviceRecord);
// Channel numbers are stored in 8 bits; more channels would give entries that collide. A caller's count above
// it is refused; a stored "cameras" above it (from a file) counts as this many where entries are walked.
constexpr std::int32_t kMaxStoredChannels = 256;

// Entry records LoadDeviceTree gives a device: "cameras", but no more than kMaxStoredChannels, nor more than
// the larger of 16 and its number of children. A hostile "cameras" then costs in proportion to the file: a
// device of a few bytes claiming 65535 channels gets 16 empty entries, not 65535.
std::uint32_t EntrySlots(XmlNodeRef device);

std::uint32_t StoredChannels(XmlNodeRef device) {
    std::uint32_t cameras = device.Attribute("cameras").ValueAsUnsigned() & 0xFFFF;
    return cameras < kMaxStoredChannels ? cameras : static_cast<std::uint32_t>(kMaxStoredChannels);
}

std::string EntryName(const std::string& deviceName, const char* form, std::uint32_t number) {
    return deviceName + form + std::to_string(number);
}

// The texts of a record that go into attributes must be terminated and storable, and the channel count
// must fit the 8-bit channel numbers.
bool IsWritableRecord(const DeviceRecord& record) {
    std::int32_t cameras = static_cast<std::int32_t>(record.cameras);
    return cameras >= 0 && cameras <= kMaxStoredChannels && IsStorableField(record.name, sizeof record.name) &&
           IsStorableField(record.host, sizeof record.host) &&
           IsStorableField(record.username, sizeof record.username) &&
           IsStorableField(record.ddnsHost, sizeof record.ddnsHost) &&
           FieldText(record.password, sizeof record.password).has_value();
}

std::uint32_t EntrySlots(XmlNodeRef device) {
    std::uint32_t slots = StoredChannels(device);
    std::uint32_t children = device.ChildCount();
    std::uint32_t bound = children > static_cast<std::uint32_t>(kMaxChannels) ? children : kMaxChannels;
    return slots < bound ? slots : bound;
}

}  // namespace

std::vector<DeviceScanEntry>& XmlDeviceStore::DeviceScan(XmlNodeRef devices) {
    if (!scan_.IsValidFor(devices)) {
        scan_.Build(devices);
    }
    return scan_.Entries();
}

// Reading an attribute creates it; the scan entries remember which ones exist, so the same elements gain the
// same empty attributes, in the same order, as a walk over the attribute lists would give them.
static void Touch(DeviceScanEntry& entry, DeviceScanField field, const char* name) {
    if ((entry.present & field) == 0) {
        entry.node.Attribute(name);
        entry.present |= field;
    }
}

XmlNodeRef XmlDeviceStore::FindDeviceChildByName(XmlNodeRef devices, const char* text) {
    if (!devices.IsValid() || text == nullptr) {
        return XmlNodeRef();
    }
    std::uint64_t hash = HashText(text);
    for (DeviceScanEntry& entry : DeviceScan(devices)) {
        Touch(entry, kScanName, "name");
        if (entry.name == hash && entry.node.FindAttribute("name").ValueIs(text)) {
            return entry.node;
        }
    }
    return XmlNodeRef();
}

std::uint32_t XmlDeviceStore::CountDevices() {
    return Section(kDevInfo).ChildCount();
}

std::uint32_t XmlDeviceStore::FindDeviceByName(const char* name) {
    if (name == nullptr) {
        return 0;
    }
    XmlNodeRef device = FindDeviceChildByName(Section(kDevInfo), name);
    return device.NameIs("DEV") ? device.Attribute("id").ValueAsUnsigned() : 0;
}

std::uint32_t XmlDeviceStore::FindDeviceByAddress(const char* host, std::uint32_t port) {
    if (host == nullptr) {
        return 0;
    }
    XmlNodeRef devices = Section(kDevInfo);
    if (!devices.NameIs("DEVINFO")) {
        return 0;
    }
    std::uint64_t hostHash = HashText(host);
    for (DeviceScanEntry& entry : DeviceScan(devices)) {
        Touch(entry, kScanHost, "host");
        Touch(entry, kScanPort, "port");
        if (entry.host == hostHash && entry.port == port && entry.node.FindAttribute("host").ValueIs(host)) {
            return entry.node.NameIs("DEV") ? entry.node.Attribute("id").ValueAsUnsigned() : 0;
        }
    }
    return 0;
}

std::uint32_t XmlDeviceStore::FindDeviceByDdns(const char* host, const char* ddnsHost, std::uint32_t ddnsPort) {
    if (host == nullptr || ddnsHost == nullptr) {
        return 0;
    }
    XmlNodeRef devices = Section(kDevInfo);
    if (!devices.IsValid()) {
        return 0;
    }
    std::uint64_t hostHash = HashText(host);
    std::uint64_t ddnsHostHash = HashText(ddnsHost);
    for (DeviceScanEntry& entry : DeviceScan(devices)) {
        Touch(entry, kScanHost, "host");
        Touch(entry, kScanDdnsHost, "DDNSHost");
        Touch(entry, kScanDdnsPort, "DDNSPort");
        XmlNodeRef child = entry.node;
        if (entry.host == hostHash && entry.ddnsHost == ddnsHostHash && entry.ddnsPort == ddnsPort &&
            child.FindAttribute("host").ValueIs(host) && child.FindAttribute("DDNSHost").ValueIs(ddnsHost)) {
            return child.NameIs("DEV") ? child.Attribute("id").ValueAsUnsigned() : 0;
        }
    }
    return 0;
}

void XmlDeviceStore::FillDeviceRecord(XmlNodeRef device, DeviceRecord& out) {
    DeviceRecord record{};
    record.id = device.Attribute("id").ValueAsUnsigned();
    record.cameras = device.Attribute("cameras").ValueAsUnsigned() & 0xFFFF;
    record.ip = device.Attribute("ip").ValueAsUnsigned();
    record.port = device.Attribute("port").ValueAsUnsigned();
    record.ddnsFlag = device.Attribute("ddnsFlag").ValueAsUnsigned() & 0xFF;
    record.ddnsPort = device.Attribute("DDNSPort").ValueAsUnsigned();
    record.orgId = device.Attribute("OrgId").ValueAsUnsigned();
    CopyAttribute(device, "host", record.host, sizeof record.host);
    CopyAttribute(device, "name", record.name, sizeof record.name);
    CopyAttribute(device, "username", record.username, sizeof record.username);
    CopyAttribute(device, "DDNSHost", record.ddnsHost, sizeof record.ddnsHost);
    char cipher[kCipherBufferSize] = {};
    CopyAttribute(device, "password", cipher, sizeof cipher);
    // without the key file nothing can be deciphered: no need to look for it once per device
    bool deciphered =
        cipher[0] == '\0' || (!condition_.keyMissing && DecryptStringEX(cipher, record.password, 1, key_) == 1);
    if (!deciphered) {
        condition_.undecipherable.push_back(record.id);
        if (!condition_.keyMissing && !key_.State().Ready()) {
            condition_.keyProblem = key_.State().problem;
        }
    }
    std::memcpy(&out, &record, sizeof record);
    explicit_bzero(record.password, sizeof record.password);
}

int XmlDeviceStore::LoadDevices(DeviceRecord* records, std::uint32_t size) {
    XmlNodeRef devices = Section(kDevInfo);
    if (!devices.NameIs("DEVINFO")) {
        return 0;
    }
    std::uint32_t count = devices.ChildCount();
    if (std::uint64_t{count} * kDeviceRecordSize > size || (count > 0 && records == nullptr)) {
        return 0;
    }
    condition_.undecipherable.clear();
    for (std::uint32_t i = 0; i < count; ++i) {
        XmlNodeRef device = devices.Child(i);
        if (device.NameIs("DEV")) {
            FillDeviceRecord(device, records[i]);
        }
    }
    return 1;
}

std::uint32_t XmlDeviceStore::CountDeviceRecords() {
    XmlNodeRef devices = Section(kDevInfo);
    std::uint32_t count = 0;
    for (std::uint32_t i = 0; i < devices.ChildCount(); ++i) {
        count += devices.Child(i).NameIs("DEV") ? 1 : 0;
    }
    return count;
}

int XmlDeviceStore::LoadDeviceRecords(DeviceRecord* records, std::uint32_t size) {
    XmlNodeRef devices = Section(kDevInfo);
    if (!devices.NameIs("DEVINFO")) {
        return 0;
    }
    std::uint32_t count = CountDeviceRecords();
    if (std::uint64_t{count} * kDeviceRecordSize > size || (count > 0 && records == nullptr)) {
        return 0;
    }
    condition_.undecipherable.clear();
    std::uint32_t filled = 0;
    for (std::uint32_t i = 0; i < devices.ChildCount(); ++i) {
        XmlNodeRef device = devices.Child(i);
        if (device.NameIs("DEV")) {
            FillDeviceRecord(device, records[filled++]);
        }
    }
    return 1;
}

XmlNodeRef XmlDeviceStore::AddDeviceElement(XmlNodeRef devices, DeviceRecord& record, const char* cipher) {
    if (FindDeviceChildByName(devices, record.name).IsValid()) {
        return XmlNodeRef();
    }
    XmlNodeRef global = Global();
    XmlNodeRef device = NewElement(devices, "DEV", global);
    if (!device.IsValid()) {
        return XmlNodeRef();
    }
    device.Attribute("ip").SetUnsigned(record.ip);
    device.Attribute("name").SetValue(record.name);
    device.Attribute("host").SetValue(record.host);
    device.Attribute("port").SetUnsigned16(record.port);
    device.Attribute("cameras").SetUnsigned16(record.cameras);
    if (!device.NameIs("DEV")) {
        return XmlNodeRef();
    }
    device.Attribute("ddnsFlag").SetUnsigned8(record.ddnsFlag);
    device.Attribute("DDNSHost").SetValue(record.ddnsHost);
    device.Attribute("DDNSPort").SetUnsigned(record.ddnsPort);
    device.Attribute("desc").SetValue("");
    device.Attribute("username").SetValue(record.username);
    device.Attribute("OrgId").SetUnsigned(record.orgId);
    device.Attribute("password").SetValue(cipher);
    record.id = device.Attribute("id").ValueAsUnsigned();
    scan_.Append(devices, device);

    std::string name(record.name);
    std::int32_t cameras = static_cast<std::int32_t>(record.cameras);
    for (std::int32_t n = 1; n <= cameras; ++n) {
        std::uint32_t channel = static_cast<std::uint32_t>(n - 1);
        XmlNodeRef video = CreateEntry(device, 0, channel, EntryName(name, "_", n), global);
        if (video.NameIs("DEV")) {
            video.Attribute("desc").SetValue("");
        }
        XmlNodeRef alarm = CreateEntry(device, 1, channel, EntryName(name, "_alarm", n), global);
        if (alarm.NameIs("DEV")) {
            alarm.Attribute("desc").SetValue("");
        }
    }
    return device;
}

int XmlDeviceStore::AddDevices(DeviceRecord* records, std::uint32_t size) {
    if (records == nullptr || size < kDeviceRecordSize) {
        return 0;
    }
    XmlNodeRef devices = Section(kDevInfo);
    if (!devices.NameIs("DEVINFO")) {
        return 0;
    }
    std::uint32_t count = size / kDeviceRecordSize;
    for (std::uint32_t i = 0; i < count; ++i) {
        if (!IsWritableRecord(records[i])) {
            return 0;
        }
    }
    for (std::uint32_t i = 0; i < count; ++i) {
        DeviceRecord& record = records[i];
        // a taken name fails before a key could be made for it
        if (FindDeviceChildByName(devices, record.name).IsValid()) {
            return 0;
        }
        char cipher[kCipherBufferSize];
        if (!Encrypt(record.password, cipher)) {
            return 0;
        }
        if (!AddDeviceElement(devices, record, cipher).IsValid()) {
            return 0;
        }
        ++condition_.encipheredPasswords;
        PendingChange change{PendingChange::AddDevice, record.id, record, cipher, 0, {}};
        explicit_bzero(change.device.password, sizeof change.device.password);
        Remember(std::move(change));
    }
    return 1;
}

XmlNodeRef XmlDeviceStore::CameraTypesDevice(std::uint32_t deviceId, const std::int32_t* types, std::int32_t count) {
    // channel 256 would be channel 0 again in 8 bits
    if (types == nullptr || count > kMaxStoredChannels) {
        return XmlNodeRef();
    }
    return FindById(Section(kDevInfo), "DEV", deviceId);
}

int XmlDeviceStore::SetCameraTypes(std::uint32_t deviceId, const std::int32_t* types, std::int32_t count) {
    XmlNodeRef device = CameraTypesDevice(deviceId, types, count);
    if (!device.IsValid()) {
        return 0;
    }
    for (std::int32_t i = 0; i < count; ++i) {
        XmlNodeRef entry = FindEntry(device, 0, static_cast<std::uint32_t>(i));
        if (entry.NameIs("DEV")) {
            entry.Attribute("CameraType").SetUnsigned8(static_cast<std::uint32_t>(types[i]));
        }
    }
    if (count > 0) {
        Remember(PendingChange{PendingChange::CameraTypes, deviceId, DeviceRecord{}, "", 0,
                               std::vector<std::int32_t>(types, types + count)});
    }
    return 1;
}

int XmlDeviceStore::GetCameraTypes(std::uint32_t deviceId, std::int32_t* types, std::int32_t count) {
    XmlNodeRef device = CameraTypesDevice(deviceId, types, count);
    if (!device.IsValid()) {
        return 0;
    }
    for (std::int32_t i = 0; i < count; ++i) {
        XmlNodeRef entry = FindEntry(device, 0, static_cast<std::uint32_t>(i));
        if (entry.IsValid()) {
            types[i] = static_cast<std::int32_t>(entry.Attribute("CameraType").ValueAsUnsigned() & 0xFF);
        }
    }
    return 1;
}

int XmlDeviceStore::LoadChannelEntries(std::uint32_t deviceId, ChannelEntry* entries, std::uint32_t capacity) {
    if (entries == nullptr) {
        return 0;
    }
    XmlNodeRef device = FindById(Section(kDevInfo), "DEV", deviceId);
    if (!device.IsValid()) {
        return 0;
    }
    std::uint32_t cameras = device.Attribute("cameras").ValueAsUnsigned() & 0xFFFF;
    if (capacity < cameras) {
        return 0;
    }
    for (std::uint32_t n = 0; n < StoredChannels(device); ++n) {
        XmlNodeRef video = FindEntry(device, 0, n);
        if (!video.IsValid()) {
            continue;
        }
        ChannelEntry entry{};
        entry.id = video.Attribute("id").ValueAsUnsigned();
        entry.channel = video.Attribute("channel").ValueAsUnsigned() & 0xFF;
        CopyAttribute(video, "name", entry.name, sizeof entry.name);
        entries[n] = entry;
    }
    return 1;
}

std::uint32_t XmlDeviceStore::GetChannelId(std::uint32_t deviceId, std::uint32_t channel) {
    XmlNodeRef device = FindById(Section(kDevInfo), "DEV", deviceId);
    XmlNodeRef video = device.IsValid() ? FindEntry(device, 0, channel & 0xFF) : XmlNodeRef();
    return video.IsValid() ? video.Attribute("id").ValueAsUnsigned() : 0;
}

int XmlDeviceStore::GetEntryIds(std::uint32_t deviceId, std::uint32_t* ids, std::uint32_t count) {
    if (ids == nullptr) {
        return 0;
    }
    XmlNodeRef device = FindById(Section(kDevInfo), "DEV", deviceId);
    if (!device.IsValid() || device.ChildCount() < count) {
        return 0;
    }
    for (std::uint32_t i = 0; i < count; ++i) {
        XmlNodeRef child = device.Child(i);
        if (child.NameIs("DEV")) {
            ids[i] = child.Attribute("id").ValueAsUnsigned();
        }
    }
    return 1;
}

int XmlDeviceStore::SetEntryName(std::uint32_t id, const ChannelEntry* entry) {
    if (entry == nullptr || !IsStorableField(entry->name, sizeof entry->name)) {
        return 0;
    }
    XmlNodeRef element = FindById(Section(kDevInfo), "DEV", id);
    if (!element.IsValid()) {
        return 0;
    }
    scan_.Invalidate();
    ChangedBeyondReplay();
    return element.Attribute("name").SetValue(entry->name) ? 1 : 0;
}

int XmlDeviceStore::RemoveDevice(std::uint32_t deviceId, ChangeNotifier* notifier) {
    XmlNodeRef device = FindById(Section(kDevInfo), "DEV", deviceId);
    if (!device.IsValid()) {
        return 0;
    }
    // take every identifier first: the removals below may drop cached nodes
    std::vector<std::string> entryIds;
    for (std::uint32_t i = 0; i < device.ChildCount(); ++i) {
        XmlNodeRef child = device.Child(i);
        if (child.NameIs("DEV")) {
            entryIds.push_back(child.Attribute("id").Value());
        }
    }
    std::string deviceIdText = device.Attribute("id").Value();
    ChangedBeyondReplay();
    for (const std::string& entryId : entryIds) {
        RemoveAllWithId(Section(kMapInfo), entryId);
    }
    RemoveAllWithId(Section(kMapInfo), deviceIdText);
    RemoveFirstByAttribute(Section(kDevInfo), nullptr, "id", deviceIdText, 0xFFFFFFFFu, false);
    if (notifier != nullptr) {
        notifier->OnChanged();
    }
    return 1;
}

int XmlDeviceStore::ModifyDevice(std::uint32_t deviceId, const DeviceRecord* record, std::uint32_t size,
                                 ChangeNotifier* notifier) {
    if (record == nullptr || size < kDeviceRecordSize) {
        return 0;
    }
    XmlNodeRef devices = Section(kDevInfo);
    if (!devices.NameIs("DEVINFO")) {
        return 0;
    }
    XmlNodeRef device = FindById(devices, "DEV", deviceId);
    if (!device.IsValid() || !IsWritableRecord(*record)) {
        return 0;
    }
    // a device inside the map section could be removed with its map items; such a file is not edited. The map
    // section is only looked at: a change that removes no channel creates nothing.
    XmlNodeRef map = ExistingSection("MAPINFO");
    for (XmlNodeRef up = device; map.IsValid() && up.IsValid(); up = up.Parent()) {
        if (up == map) {
            return 0;
        }
    }
    // a password that cannot be deciphered (missing or other key, changed text) is kept as stored
    std::string storedCipher = device.Attribute("password").Value();
    char storedPlain[kPlainFieldSize];
    bool keepStoredPassword =
        !storedCipher.empty() &&
        (condition_.keyMissing || DecryptStringEX(storedCipher.c_str(), storedPlain, 1, key_) != 1);
    explicit_bzero(storedPlain, sizeof storedPlain);
    char cipher[kCipherBufferSize];
    if (!keepStoredPassword && !Encrypt(record->password, cipher)) {
        return 0;
    }
    scan_.Invalidate();
    ChangedBeyondReplay();
    XmlNodeRef deviceNode = device;
    // entries exist for channels 0 to 255 only: a larger stored count must not reach kept channels through
    // 8-bit channel numbers
    std::int32_t oldCount = static_cast<std::int32_t>(StoredChannels(device));
    std::int32_t newCount = static_cast<std::int32_t>(record->cameras);
    std::string newName(record->name);

    for (std::int32_t n = newCount; n < oldCount; ++n) {
        std::string channelText = UnsignedText(static_cast<std::uint32_t>(n));
        for (std::uint32_t type = 0; type <= 1; ++type) {
            XmlNodeRef entry = FindEntry(deviceNode, type, static_cast<std::uint32_t>(n));
            if (!entry.IsValid()) {
                continue;
            }
            RemoveAllWithId(map, entry.Attribute("id").Value());
            RemoveFirstByAttribute(deviceNode, nullptr, "channel", channelText, 0xFFFFFFFFu, true);
        }
    }
    device = deviceNode;
    if (newCount > oldCount) {
        XmlNodeRef global = Global();
        for (std::int32_t n = oldCount; n < newCount; ++n) {
            std::uint32_t channel = static_cast<std::uint32_t>(n);
            XmlNodeRef video = CreateEntry(device, 0, channel, EntryName(newName, "_", n + 1), global);
            if (video.IsValid()) {
                video.Attribute("desc").SetValue("");
            }
            XmlNodeRef alarm = CreateEntry(device, 1, channel, EntryName(newName, "_alarm", n + 1), global);
            if (alarm.IsValid()) {
                alarm.Attribute("desc").SetValue("");
            }
        }
    }
    std::string oldName = device.Attribute("name").Value();
    if (oldName != newName) {
        std::int32_t common = std::min(oldCount, newCount);
        for (std::int32_t j = 1; j <= common; ++j) {
            std::uint32_t channel = static_cast<std::uint32_t>(j - 1);
            XmlNodeRef video = FindEntry(device, 0, channel);
            XmlAttributeRef videoName = video.Attribute("name");
            if (video.IsValid() && videoName.Value() == EntryName(oldName, "_", j)) {
                videoName.SetValue(EntryName(newName, "_", j).c_str());
            }
            XmlNodeRef alarm = FindEntry(device, 1, channel);
            XmlAttributeRef alarmName = alarm.Attribute("name");
            if (alarm.IsValid() && alarmName.Value() == EntryName(oldName, "_alarm", j)) {
                alarmName.SetValue(EntryName(newName, "_alarm", j).c_str());
            }
        }
    }
    device.Attribute("ip").SetUnsigned(record->ip);
    device.Attribute("host").SetValue(record->host);
    device.Attribute("port").SetUnsigned16(record->port);
    device.Attribute("cameras").SetUnsigned16(record->cameras);
    device.Attribute("name").SetValue(record->name);
    device.Attribute("username").SetValue(record->username);
    device.Attribute("ddnsFlag").SetUnsigned8(record->ddnsFlag);
    device.Attribute("DDNSHost").SetValue(record->ddnsHost);
    device.Attribute("DDNSPort").SetUnsigned(record->ddnsPort);
    if (!keepStoredPassword) {
        device.Attribute("password").SetValue(cipher);
    }
    if (notifier != nullptr) {
        notifier->OnChanged();
    }
    return 1;
}

int XmlDeviceStore::LoadDeviceTree(DeviceTreeRecord* records, std::uint32_t capacity) {
    if (records == nullptr) {
        return 0;
    }
    XmlNodeRef devices = Section(kDevInfo);
    if (!devices.NameIs("DEVINFO") || capacity < devices.ChildCount()) {
        return 0;
    }
    std::uint32_t count = devices.ChildCount();
    for (std::uint32_t i = 0; i < count; ++i) {
        XmlNodeRef device = devices.Child(i);
        if (!device.NameIs("DEV")) {
            continue;
        }
        DeviceTreeRecord& record = records[i];
        record = DeviceTreeRecord{};
        record.id = device.Attribute("id").ValueAsUnsigned();
        CopyAttribute(device, "name", record.name, sizeof record.name);
        CopyAttribute(device, "desc", record.desc, sizeof record.desc);
        std::uint32_t cameras = EntrySlots(device);
        if (cameras > 0) {
            record.videoEntries = new (std::nothrow) VideoChannelRecord[cameras]();
            record.alarmEntries = new (std::nothrow) AlarmRecord[cameras]();
            if (record.videoEntries == nullptr || record.alarmEntries == nullptr) {
                FreeDeviceTreeEntries(record);
                return 0;
            }
        }
        record.videoCount = cameras;
        record.alarmCount = cameras;
        for (std::uint32_t n = 0; n < cameras; ++n) {
            XmlNodeRef video = FindEntry(device, 0, n);
            if (video.IsValid()) {
                VideoChannelRecord& v = record.videoEntries[n];
                v.id = video.Attribute("id").ValueAsUnsigned();
                v.cameraType = video.Attribute("CameraType").ValueAsUnsigned() & 0xFF;
                CopyAttribute(video, "name", v.name, sizeof v.name);
                CopyAttribute(video, "desc", v.desc, sizeof v.desc);
            }
            XmlNodeRef alarm = FindEntry(device, 1, n);
            if (alarm.IsValid()) {
                AlarmRecord& a = record.alarmEntries[n];
                a.id = alarm.Attribute("id").ValueAsUnsigned();
                CopyAttribute(alarm, "name", a.name, sizeof a.name);
                CopyAttribute(alarm, "desc", a.desc, sizeof a.desc);
            }
        }
    }
    return 1;
}

}  // namespace vantrel
