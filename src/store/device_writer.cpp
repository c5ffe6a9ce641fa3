#include "device_writer.h"

#include "store/store_text.h"

namespace vantrel {
namespace {

enum class Field { Ip, Name, Host, Port, Cameras, DdnsFlag, DdnsHost, DdnsPort, Desc, Username, OrgId, Password };

constexpr Field kAddedOrder[] = {Field::Ip,      Field::Name,     Field::Host,     Field::Port,
                                 Field::Cameras, Field::DdnsFlag, Field::DdnsHost, Field::DdnsPort,
                                 Field::Desc,    Field::Username, Field::OrgId,    Field::Password};
constexpr Field kModifiedOrder[] = {Field::Ip,       Field::Host,     Field::Port,     Field::Cameras,
                                    Field::Name,     Field::Username, Field::DdnsFlag, Field::DdnsHost,
                                    Field::DdnsPort, Field::Password};

void WriteField(XmlNodeRef device, const DeviceRecord& record, const char* cipher, Field field) {
    switch (field) {
        case Field::Ip:
            device.Attribute(schema::kIp).SetUnsigned(record.ip);
            break;
        case Field::Name:
            device.Attribute(schema::kName).SetValue(record.name);
            break;
        case Field::Host:
            device.Attribute(schema::kHost).SetValue(record.host);
            break;
        case Field::Port:
            device.Attribute(schema::kPort).SetUnsigned16(record.port);
            break;
        case Field::Cameras:
            device.Attribute(schema::kCameras).SetUnsigned16(record.cameras);
            break;
        case Field::DdnsFlag:
            device.Attribute(schema::kDdnsFlag).SetUnsigned8(record.ddnsFlag);
            break;
        case Field::DdnsHost:
            device.Attribute(schema::kDdnsHost).SetValue(record.ddnsHost);
            break;
        case Field::DdnsPort:
            device.Attribute(schema::kDdnsPort).SetUnsigned(record.ddnsPort);
            break;
        case Field::Desc:
            device.Attribute(schema::kDesc).SetValue("");
            break;
        case Field::Username:
            device.Attribute(schema::kUsername).SetValue(record.username);
            break;
        case Field::OrgId:
            device.Attribute(schema::kOrgId).SetUnsigned(record.orgId);
            break;
        case Field::Password:
            if (cipher != nullptr) {
                device.Attribute(schema::kPassword).SetValue(cipher);
            }
            break;
    }
}

}  // namespace

std::uint32_t StoredChannels(XmlNodeRef device) {
    std::uint32_t cameras = device.FindAttribute(schema::kCameras).ValueAsUnsigned() & 0xFFFF;
    return cameras < kMaxStoredChannels ? cameras : kMaxStoredChannels;
}

bool IsWritableRecord(const DeviceRecord& record) {
    auto cameras = static_cast<std::int32_t>(record.cameras);
    return cameras >= 0 && cameras <= static_cast<std::int32_t>(kMaxStoredChannels) &&
           IsStorableField(record.name, sizeof record.name) && IsStorableField(record.host, sizeof record.host) &&
           IsStorableField(record.username, sizeof record.username) &&
           IsStorableField(record.ddnsHost, sizeof record.ddnsHost) &&
           FieldText(record.password, sizeof record.password).has_value();
}

void WriteDeviceFields(XmlNodeRef device, const DeviceRecord& record, const char* cipher, DeviceFieldOrder order) {
    if (order == DeviceFieldOrder::Added) {
        for (Field field : kAddedOrder) {
            WriteField(device, record, cipher, field);
        }
    } else {
        for (Field field : kModifiedOrder) {
            WriteField(device, record, cipher, field);
        }
    }
}

std::string EntryName(const std::string& deviceName, schema::EntryType type, std::uint32_t number) {
    const char* suffix = type == schema::EntryType::Video ? schema::kVideoEntrySuffix : schema::kAlarmEntrySuffix;
    return deviceName + suffix + std::to_string(number);
}

void AddChannelEntries(StoreTree& tree, XmlNodeRef device, const std::string& deviceName, std::uint32_t first,
                       std::uint32_t last) {
    // a device without entries can only meet the ones made here, each of another type and channel (below 256,
    // where the 8-bit comparison would start to repeat): no need to look for each among those before it
    const bool fresh = device.ChildCount() == 0 && last <= 256;
    for (std::uint32_t channel = first; channel < last; ++channel) {
        for (schema::EntryType type : {schema::EntryType::Video, schema::EntryType::Alarm}) {
            std::string name = EntryName(deviceName, type, channel + 1);
            if (fresh) {
                tree.AppendEntry(device, type, channel, name);
            } else {
                tree.CreateEntry(device, type, channel, name);
            }
        }
    }
}

}  // namespace vantrel
