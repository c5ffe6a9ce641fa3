#pragma once

// The names of Data.xml, each written once: the root, its sections, the elements inside them, their
// attributes, and the two kinds of channel entry. Names are compared byte for byte, case-sensitive.

#include <cstdint>

namespace vantrel {
namespace schema {

// Elements.
inline constexpr const char kDataRoot[] = "DATAROOT";
inline constexpr const char kGlobal[] = "GLOBAL";
inline constexpr const char kDevInfo[] = "DEVINFO";
inline constexpr const char kOrgInfo[] = "ORGINFO";
inline constexpr const char kImgInfo[] = "IMGINFO";
inline constexpr const char kMapInfo[] = "MAPINFO";
inline constexpr const char kDev[] = "DEV";  // a device, and each of its channel entries
inline constexpr const char kOrg[] = "ORG";
inline constexpr const char kImg[] = "IMG";
inline constexpr const char kMapImage[] = "IIMG";
inline constexpr const char kMapDevice[] = "IDEV";

// Attributes.
inline constexpr const char kId[] = "id";
inline constexpr const char kIndex[] = "index";  // GLOBAL: the next identifier to give
inline constexpr const char kName[] = "name";
inline constexpr const char kDesc[] = "desc";
inline constexpr const char kIp[] = "ip";
inline constexpr const char kHost[] = "host";
inline constexpr const char kPort[] = "port";
inline constexpr const char kCameras[] = "cameras";
inline constexpr const char kUsername[] = "username";
inline constexpr const char kPassword[] = "password";
inline constexpr const char kDdnsFlag[] = "ddnsFlag";
inline constexpr const char kDdnsHost[] = "DDNSHost";
inline constexpr const char kDdnsPort[] = "DDNSPort";
inline constexpr const char kOrgId[] = "OrgId";
inline constexpr const char kType[] = "type";
inline constexpr const char kChannel[] = "channel";
inline constexpr const char kCameraType[] = "CameraType";
inline constexpr const char kImage[] = "image";
inline constexpr const char kPos[] = "pos";

// The "type" of a device's channel entries.
enum class EntryType : std::uint32_t { Video = 0, Alarm = 1 };

// The name forms of the entries of channel n (counted from 1): Gate_1 and Gate_alarm1.
inline constexpr const char kVideoEntrySuffix[] = "_";
inline constexpr const char kAlarmEntrySuffix[] = "_alarm";

}  // namespace schema
}  // namespace vantrel
