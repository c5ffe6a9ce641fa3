// Device operations of the XML-backed store.

#include <string.h>

#include <algorithm>
#include <cstring>
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

}  // namespace

XmlNodeRef XmlDeviceStore::Impl::FindDeviceChildByName(XmlNodeRef devices, const char* text) {
    if (!devices.IsValid() || text == nullptr) {
        return XmlNodeRef();
    }
    std::uint64_t hash = HashText(text);
    DeviceScanCache& scan = tree_.DeviceScan(devices);
    if (scan.WalkIsIdle(kScanName, hash, kScanName)) {
        return XmlNodeRef();
    }
    for (DeviceScanEntry& entry : scan.Entries()) {
        scan.Touch(entry, kScanName, schema::kName);
        if (entry.name == hash && entry.node.FindAttribute(schema::kName).ValueIs(text)) {
            return entry.node;
        }
    }
    return XmlNodeRef();
}

std::uint32_t XmlDeviceStore::Impl::CountDevices() try {
    return tree_.Section(StoreSection::Devices).ChildCount();
} catch (const std::bad_alloc&) {
    return MemoryRanOut(0u);
}

std::uint32_t XmlDeviceStore::Impl::FindDeviceByName(const char* name) try {
    if (name == nullptr) {
        return 0;
    }
    XmlNodeRef device = FindDeviceChildByName(tree_.Section(StoreSection::Devices), name);
    return device.NameIs(schema::kDev) ? IdOf(device) : 0;
} catch (const std::bad_alloc&) {
    return MemoryRanOut(0u);
}

std::uint32_t XmlDeviceStore::Impl::FindDeviceByAddress(const char* host, std::uint32_t port) try {
    XmlNodeRef devices = tree_.Section(StoreSection::Devices);
    if (host == nullptr || !devices.NameIs(schema::kDevInfo)) {
        return 0;
    }
    std::uint64_t hostHash = HashText(host);
    DeviceScanCache& scan = tree_.DeviceScan(devices);
    if (scan.WalkIsIdle(kScanHost, hostHash, kScanHost | kScanPort)) {
        return 0;
    }
    for (DeviceScanEntry& entry : scan.Entries()) {
        scan.Touch(entry, kScanHost, schema::kHost);
        scan.Touch(entry, kScanPort, schema::kPort);
        if (entry.host == hostHash && entry.port == port && entry.node.FindAttribute(schema::kHost).ValueIs(host)) {
            return entry.node.NameIs(schema::kDev) ? IdOf(entry.node) : 0;
        }
    }
    return 0;
} catch (const std::bad_alloc&) {
    return MemoryRanOut(0u);
}

std::uint32_t XmlDeviceStore::Impl::FindDeviceByDdns(const char* host, const char* ddnsHost,
                                                     std::uint32_t ddnsPort) try {
    XmlNodeRef devices = tree_.Section(StoreSection::Devices);
    if (host == nullptr || ddnsHost == nullptr || !devices.IsValid()) {
        return 0;
    }
    std::uint64_t hostHash = HashText(host);
    std::uint64_t ddnsHostHash = HashText(ddnsHost);
    DeviceScanCache& scan = tree_.DeviceScan(devices);
    if (scan.WalkIsIdle(kScanHost, hostHash, kScanHost | kScanDdnsHost | kScanDdnsPort)) {
        return 0;
    }
    for (DeviceScanEntry& entry : scan.Entries()) {
        scan.Touch(entry, kScanHost, schema::kHost);
        scan.Touch(entry, kScanDdnsHost, schema::kDdnsHost);
        scan.Touch(entry, kScanDdnsPort, schema::kDdnsPort);
        XmlNodeRef child = entry.node;
        if (entry.host == hostHash && entry.ddnsHost == ddnsHostHash && entry.ddnsPort == ddnsPort &&
            child.FindAttribute(schema::kHost).ValueIs(host) &&
            child.FindAttribute(schema::kDdnsHost).ValueIs(ddnsHost)) {
            return child.NameIs(schema::kDev) ? IdOf(child) : 0;
        }
    }
    return 0;
} catch (const std::bad_alloc&) {
    return MemoryRanOut(0u);
}

bool XmlDeviceStore::Impl::FillDeviceRecord(XmlNodeRef device, DeviceRecord& out) {
    DeviceRecord record{};
    record.id = IdOf(device);
    record.cameras = device.Attribute(schema::kCameras).ValueAsUnsigned() & 0xFFFF;
    record.ip = device.Attribute(schema::kIp).ValueAsUnsigned();
    record.port = device.Attribute(schema::kPort).ValueAsUnsigned();
    record.ddnsFlag = device.Attribute(schema::kDdnsFlag).ValueAsUnsigned() & 0xFF;
    record.ddnsPort = device.Attribute(schema::kDdnsPort).ValueAsUnsigned();
    record.orgId = device.Attribute(schema::kOrgId).ValueAsUnsigned();
    CopyAttribute(device, schema::kHost, record.host, sizeof record.host);
    CopyAttribute(device, schema::kName, record.name, sizeof record.name);
    CopyAttribute(device, schema::kUsername, record.username, sizeof record.username);
    CopyAttribute(device, schema::kDdnsHost, record.ddnsHost, sizeof record.ddnsHost);
    char cipher[kCipherBufferSize] = {};
    CopyAttribute(device, schema::kPassword, cipher, sizeof cipher);
    // without the key file nothing can be deciphered: no need to look for it once per device
    bool deciphered =
        cipher[0] == '\0' || (!condition_.keyMissing && DecryptStringEX(cipher, record.password, 1, key_) == 1);
    if (!deciphered && !condition_.keyMissing && !key_.State().Ready()) {
        condition_.keyProblem = key_.State().problem;
    }
    std::memcpy(&out, &record, sizeof record);
    explicit_bzero(record.password, sizeof record.password);
    return deciphered;
}

int XmlDeviceStore::Impl::LoadDevices(DeviceRecord* records, std::uint32_t size) try {
    XmlNodeRef devices = tree_.Section(StoreSection::Devices);
    if (!devices.NameIs(schema::kDevInfo)) {
        return 0;
    }
    std::uint32_t count = devices.ChildCount();
    if (std::uint64_t{count} * kDeviceRecordSize > size || (count > 0 && records == nullptr)) {
        return 0;
    }
    condition_.undecipherable.clear();
    for (std::uint32_t i = 0; i < count; ++i) {
        XmlNodeRef device = devices.Child(i);
        if (device.NameIs(schema::kDev) && !FillDeviceRecord(device, records[i])) {
            condition_.undecipherable.push_back(records[i].id);
        }
    }
    return 1;
} catch (const std::bad_alloc&) {
    return MemoryRanOut(0);
}

std::uint32_t XmlDeviceStore::Impl::CountDeviceRecords() try {
    XmlNodeRef devices = tree_.Section(StoreSection::Devices);
    std::uint32_t count = 0;
    for (std::uint32_t i = 0; i < devices.ChildCount(); ++i) {
        count += devices.Child(i).NameIs(schema::kDev) ? 1 : 0;
    }
    return count;
} catch (const std::bad_alloc&) {
    return MemoryRanOut(0u);
}

int XmlDeviceStore::Impl::LoadDeviceRecords(DeviceRecord* records, std::uint32_t size) try {
    XmlNodeRef devices = tree_.Section(StoreSection::Devices);
    if (!devices.NameIs(schema::kDevInfo)) {
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
        if (device.NameIs(schema::kDev)) {
            DeviceRecord& record = records[filled++];
            if (!FillDeviceRecord(device, record)) {
                condition_.undecipherable.push_back(record.id);
            }
        }
    }
    return 1;
} catch (const std::bad_alloc&) {
    return MemoryRanOut(0);
}

// One device through the id index; what the whole load found undecipherable stays as it was.
int XmlDeviceStore::Impl::LoadDeviceRecord(std::uint32_t deviceId, DeviceRecord* record) try {
    XmlNodeRef devices = tree_.Section(StoreSection::Devices);
    if (record == nullptr || !devices.NameIs(schema::kDevInfo)) {
        return 0;
    }
    // a channel entry shares the element name and the id space: only a direct child is a device
    XmlNodeRef device = tree_.FindById(StoreSection::Devices, deviceId);
    if (!device.NameIs(schema::kDev) || !(device.Parent() == devices)) {
        return 0;
    }
    FillDeviceRecord(device, *record);
    return 1;
} catch (const std::bad_alloc&) {
    return MemoryRanOut(0);
}

XmlNodeRef XmlDeviceStore::Impl::AddDeviceElement(XmlNodeRef devices, DeviceRecord& record, const char* cipher) {
    if (FindDeviceChildByName(devices, record.name).IsValid()) {
        return XmlNodeRef();
    }
    XmlNodeRef device = tree_.NewElement(devices, schema::kDev);
    if (!device.IsValid()) {
        condition_.refusal = NoIdentifierReason();
        return XmlNodeRef();
    }
    WriteDeviceFields(device, record, cipher, DeviceFieldOrder::Added);
    record.id = IdOf(device);
    tree_.DeviceAppended(devices, device);
    AddChannelEntries(tree_, device, record.name, 0, static_cast<std::uint32_t>(record.cameras));
    return device;
}

int XmlDeviceStore::Impl::AddDevices(DeviceRecord* records, std::uint32_t size) try {
    condition_.refusal.clear();
    if (records == nullptr || size < kDeviceRecordSize) {
        return 0;
    }
    XmlNodeRef devices = tree_.Section(StoreSection::Devices);
    if (!devices.NameIs(schema::kDevInfo)) {
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
        // a taken name, or a counter that cannot give an identifier, fails before a key could be made for it
        if (FindDeviceChildByName(devices, record.name).IsValid()) {
            return 0;
        }
        if (tree_.IdentifiersUsedUp()) {
            return Refused(0, NoIdentifierReason());
        }
        char cipher[kCipherBufferSize];
        if (!Encrypt(record.password, cipher) || !AddDeviceElement(devices, record, cipher).IsValid()) {
            return 0;
        }
        ++condition_.encipheredPasswords;
        replay_.DeviceAdded(record, cipher);
    }
    return 1;
} catch (const std::bad_alloc&) {
    return MemoryRanOut(0);
}
}  // namespace vantrel
