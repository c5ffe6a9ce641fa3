// Device operations of the XML-backed store that work on one device: its channel entries, camera types,
// removal and modification, and the device tree.

#include <string.h>

#include <algorithm>
#include <new>

#include "attribute_copy.h"
#include "device_writer.h"
#include "password/password.h"
#include "store/store_text.h"
#include "xml_device_store_impl.h"

namespace vantrel {
namespace {

using schema::EntryType;
constexpr std::uint32_t kDeviceRecordSize = sizeof(DeviceRecord);

// Entry records LoadDeviceTree gives a device: "cameras", but no more than kMaxStoredChannels, nor more than
// the larger of 16 and its number of children. A hostile "cameras" then costs in proportion to the file: a
// device of a few bytes claiming 65535 channels gets 16 empty entries, not 65535.
std::uint32_t EntrySlots(XmlNodeRef device) {
    device.Attribute(schema::kCameras);  // read as described: a device without it gains it, empty
    std::uint32_t slots = StoredChannels(device);
    std::uint32_t children = device.ChildCount();
    std::uint32_t bound = children > static_cast<std::uint32_t>(kMaxChannels) ? children : kMaxChannels;
    return slots < bound ? slots : bound;
}

void FillVideoRecord(XmlNodeRef video, VideoChannelRecord& record) {
    record.id = IdOf(video);
    record.cameraType = video.Attribute(schema::kCameraType).ValueAsUnsigned() & 0xFF;
    CopyAttribute(video, schema::kName, record.name, sizeof record.name);
    CopyAttribute(video, schema::kDesc, record.desc, sizeof record.desc);
}

void FillAlarmRecord(XmlNodeRef alarm, AlarmRecord& record) {
    record.id = IdOf(alarm);
    CopyAttribute(alarm, schema::kName, record.name, sizeof record.name);
    CopyAttribute(alarm, schema::kDesc, record.desc, sizeof record.desc);
}

}  // namespace

XmlNodeRef XmlDeviceStore::Impl::CameraTypesDevice(std::uint32_t deviceId, const std::int32_t* types,
                                                   std::int32_t count) {
    // channel 256 would be channel 0 again in 8 bits
    if (types == nullptr || count > static_cast<std::int32_t>(kMaxStoredChannels)) {
        return XmlNodeRef();
    }
    return tree_.FindById(StoreSection::Devices, deviceId);
}

int XmlDeviceStore::Impl::SetCameraTypes(std::uint32_t deviceId, const std::int32_t* types, std::int32_t count) try {
    XmlNodeRef device = CameraTypesDevice(deviceId, types, count);
    if (!device.IsValid()) {
        return 0;
    }
    for (std::int32_t i = 0; i < count; ++i) {
        XmlNodeRef entry = tree_.FindEntry(device, EntryType::Video, static_cast<std::uint32_t>(i));
        if (entry.NameIs(schema::kDev)) {
            entry.Attribute(schema::kCameraType).SetUnsigned8(static_cast<std::uint32_t>(types[i]));
        }
    }
    replay_.CameraTypesSet(deviceId, types, count);
    return 1;
} catch (const std::bad_alloc&) {
    return MemoryRanOut(0);
}

int XmlDeviceStore::Impl::GetCameraTypes(std::uint32_t deviceId, std::int32_t* types, std::int32_t count) try {
    XmlNodeRef device = CameraTypesDevice(deviceId, types, count);
    if (!device.IsValid()) {
        return 0;
    }
    for (std::int32_t i = 0; i < count; ++i) {
        XmlNodeRef entry = tree_.FindEntry(device, EntryType::Video, static_cast<std::uint32_t>(i));
        if (entry.IsValid()) {
            types[i] = static_cast<std::int32_t>(entry.Attribute(schema::kCameraType).ValueAsUnsigned() & 0xFF);
        }
    }
    return 1;
} catch (const std::bad_alloc&) {
    return MemoryRanOut(0);
}

int XmlDeviceStore::Impl::LoadChannelEntries(std::uint32_t deviceId, ChannelEntry* entries,
                                             std::uint32_t capacity) try {
    if (entries == nullptr) {
        return 0;
    }
    XmlNodeRef device = tree_.FindById(StoreSection::Devices, deviceId);
    if (!device.IsValid() || capacity < (device.Attribute(schema::kCameras).ValueAsUnsigned() & 0xFFFF)) {
        return 0;
    }
    for (std::uint32_t n = 0; n < StoredChannels(device); ++n) {
        XmlNodeRef video = tree_.FindEntry(device, EntryType::Video, n);
        if (!video.IsValid()) {
            continue;
        }
        ChannelEntry entry{};
        entry.id = IdOf(video);
        entry.channel = video.Attribute(schema::kChannel).ValueAsUnsigned() & 0xFF;
        CopyAttribute(video, schema::kName, entry.name, sizeof entry.name);
        entries[n] = entry;
    }
    return 1;
} catch (const std::bad_alloc&) {
    return MemoryRanOut(0);
}

std::uint32_t XmlDeviceStore::Impl::GetChannelId(std::uint32_t deviceId, std::uint32_t channel) try {
    XmlNodeRef device = tree_.FindById(StoreSection::Devices, deviceId);
    XmlNodeRef video = device.IsValid() ? tree_.FindEntry(device, EntryType::Video, channel & 0xFF) : XmlNodeRef();
    return video.IsValid() ? IdOf(video) : 0;
} catch (const std::bad_alloc&) {
    return MemoryRanOut(0u);
}

int XmlDeviceStore::Impl::GetEntryIds(std::uint32_t deviceId, std::uint32_t* ids, std::uint32_t count) try {
    if (ids == nullptr) {
        return 0;
    }
    XmlNodeRef device = tree_.FindById(StoreSection::Devices, deviceId);
    if (!device.IsValid() || device.ChildCount() < count) {
        return 0;
    }
    for (std::uint32_t i = 0; i < count; ++i) {
        XmlNodeRef child = device.Child(i);
        if (child.NameIs(schema::kDev)) {
            ids[i] = IdOf(child);
        }
    }
    return 1;
} catch (const std::bad_alloc&) {
    return MemoryRanOut(0);
}

int XmlDeviceStore::Impl::SetEntryName(std::uint32_t id, const ChannelEntry* entry) try {
    if (entry == nullptr || !IsStorableField(entry->name, sizeof entry->name)) {
        return 0;
    }
    XmlNodeRef element = tree_.FindById(StoreSection::Devices, id);
    if (!element.IsValid()) {
        return 0;
    }
    tree_.ValuesChanged();
    replay_.ChangedBeyondReplay();
    return element.Attribute(schema::kName).SetValue(entry->name) ? 1 : 0;
} catch (const std::bad_alloc&) {
    return MemoryRanOut(0);
}

int XmlDeviceStore::Impl::RemoveDevice(std::uint32_t deviceId, ChangeNotifier* notifier) try {
    XmlNodeRef device = tree_.FindById(StoreSection::Devices, deviceId);
    if (!device.IsValid()) {
        return 0;
    }
    // take every identifier first: the removals below may drop cached nodes
    std::vector<std::string> entryIds;
    for (std::uint32_t i = 0; i < device.ChildCount(); ++i) {
        XmlNodeRef child = device.Child(i);
        if (child.NameIs(schema::kDev)) {
            entryIds.push_back(child.Attribute(schema::kId).Value());
        }
    }
    std::string deviceIdText = device.Attribute(schema::kId).Value();
    replay_.ChangedBeyondReplay();
    for (const std::string& entryId : entryIds) {
        tree_.RemoveAllWithId(tree_.Section(StoreSection::Map), entryId);
    }
    tree_.RemoveAllWithId(tree_.Section(StoreSection::Map), deviceIdText);
    tree_.RemoveFirstByAttribute(tree_.Section(StoreSection::Devices), nullptr, schema::kId, deviceIdText, 0xFFFFFFFFu,
                                 false);
    if (notifier != nullptr) {
        notifier->OnChanged();
    }
    return 1;
} catch (const std::bad_alloc&) {
    return MemoryRanOut(0);
}

bool XmlDeviceStore::Impl::StoredPasswordUnreadable(XmlNodeRef device) {
    std::string stored = device.FindAttribute(schema::kPassword).Value();
    if (stored.empty()) {
        return false;
    }
    char plain[kPlainFieldSize];
    bool unreadable = condition_.keyMissing || DecryptStringEX(stored.c_str(), plain, 1, key_) != 1;
    explicit_bzero(plain, sizeof plain);
    return unreadable;
}

void XmlDeviceStore::Impl::RemoveChannelsFrom(XmlNodeRef device, std::uint32_t first, std::uint32_t last) {
    // the map section is only looked at: a change that removes no channel creates nothing
    XmlNodeRef map = tree_.ExistingSection(StoreSection::Map);
    for (std::uint32_t n = first; n < last; ++n) {
        std::string channelText = UnsignedText(n);
        for (EntryType type : {EntryType::Video, EntryType::Alarm}) {
            XmlNodeRef entry = tree_.FindEntry(device, type, n);
            if (!entry.IsValid()) {
                continue;
            }
            tree_.RemoveAllWithId(map, entry.Attribute(schema::kId).Value());
            tree_.RemoveFirstByAttribute(device, nullptr, schema::kChannel, channelText, 0xFFFFFFFFu, true);
        }
    }
}

void XmlDeviceStore::Impl::RenameEntries(XmlNodeRef device, const std::string& oldName, const std::string& newName,
                                         std::uint32_t channels) {
    for (std::uint32_t number = 1; number <= channels; ++number) {
        for (EntryType type : {EntryType::Video, EntryType::Alarm}) {
            XmlNodeRef entry = tree_.FindEntry(device, type, number - 1);
            XmlAttributeRef name = entry.Attribute(schema::kName);
            // entries whose names the operator changed keep them
            if (entry.IsValid() && name.Value() == EntryName(oldName, type, number)) {
                name.SetValue(EntryName(newName, type, number).c_str());
            }
        }
    }
}

int XmlDeviceStore::Impl::ModifyDevice(std::uint32_t deviceId, const DeviceRecord* record, std::uint32_t size,
                                       ChangeNotifier* notifier) try {
    condition_.refusal.clear();
    if (record == nullptr || size < kDeviceRecordSize ||
        !tree_.Section(StoreSection::Devices).NameIs(schema::kDevInfo)) {
        return 0;
    }
    XmlNodeRef device = tree_.FindById(StoreSection::Devices, deviceId);
    // a device inside the map section could be removed with its map items; such a file is not edited
    XmlNodeRef map = tree_.ExistingSection(StoreSection::Map);
    if (!device.IsValid() || !IsWritableRecord(*record) || (map.IsValid() && device.IsBelow(map))) {
        return 0;
    }
    // everything that can refuse is decided before the first change
    auto oldCount = StoredChannels(device);
    auto newCount = static_cast<std::uint32_t>(record->cameras);
    if (newCount > oldCount && !tree_.CanGiveIdentifiers(2 * (newCount - oldCount))) {
        return Refused(0, NoIdentifierReason());
    }
    // a password that cannot be deciphered (missing or other key, changed text) is kept as stored
    bool keepStoredPassword = StoredPasswordUnreadable(device);
    char cipher[kCipherBufferSize];
    if (!keepStoredPassword && !Encrypt(record->password, cipher)) {
        return 0;
    }
    tree_.ValuesChanged();
    replay_.ChangedBeyondReplay();
    std::string oldName = device.FindAttribute(schema::kName).Value();
    if (newCount < oldCount) {
        RemoveChannelsFrom(device, newCount, oldCount);
    } else if (newCount > oldCount) {
        AddChannelEntries(tree_, device, record->name, oldCount, newCount);
    }
    if (oldName != record->name) {
        RenameEntries(device, oldName, record->name, std::min(oldCount, newCount));
    }
    WriteDeviceFields(device, *record, keepStoredPassword ? nullptr : cipher, DeviceFieldOrder::Modified);
    if (notifier != nullptr) {
        notifier->OnChanged();
    }
    return 1;
} catch (const std::bad_alloc&) {
    return MemoryRanOut(0);
}

int XmlDeviceStore::Impl::LoadDeviceTree(DeviceTreeRecord* records, std::uint32_t capacity) try {
    XmlNodeRef devices = tree_.Section(StoreSection::Devices);
    if (records == nullptr || !devices.NameIs(schema::kDevInfo) || capacity < devices.ChildCount()) {
        return 0;
    }
    for (std::uint32_t i = 0; i < devices.ChildCount(); ++i) {
        XmlNodeRef device = devices.Child(i);
        if (!device.NameIs(schema::kDev)) {
            continue;
        }
        DeviceTreeRecord& record = records[i];
        record = DeviceTreeRecord{};
        record.id = IdOf(device);
        CopyAttribute(device, schema::kName, record.name, sizeof record.name);
        CopyAttribute(device, schema::kDesc, record.desc, sizeof record.desc);
        std::uint32_t cameras = EntrySlots(device);
        if (cameras > 0) {
            record.videoEntries = new (std::nothrow) VideoChannelRecord[cameras]();
            record.alarmEntries = new (std::nothrow) AlarmRecord[cameras]();
            if (record.videoEntries == nullptr || record.alarmEntries == nullptr) {
                FreeDeviceTreeEntries(record);
                return MemoryRanOut(0);
            }
        }
        record.videoCount = cameras;
        record.alarmCount = cameras;
        for (std::uint32_t n = 0; n < cameras; ++n) {
            XmlNodeRef video = tree_.FindEntry(device, EntryType::Video, n);
            if (video.IsValid()) {
                FillVideoRecord(video, record.videoEntries[n]);
            }
            XmlNodeRef alarm = tree_.FindEntry(device, EntryType::Alarm, n);
            if (alarm.IsValid()) {
                FillAlarmRecord(alarm, record.alarmEntries[n]);
            }
        }
    }
    return 1;
} catch (const std::bad_alloc&) {
    return MemoryRanOut(0);
}

}  // namespace vantrel
