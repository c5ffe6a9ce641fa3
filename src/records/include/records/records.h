#pragma once

// Fixed-size records exchanged as byte blocks between the add flow, the catalogue and the database.
// Their sizes and field offsets are part of the exchange format and are checked below.

#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace vantrel {

inline constexpr std::size_t kTextFieldSize = 64;  // 63 bytes of text and the terminator
inline constexpr int kMaxChannels = 16;            // channels offered by the add flow

struct DeviceRecord {
    std::uint32_t id;           // given by the database on add; 0 before
    char name[kTextFieldSize];  // unique among devices
    char host[kTextFieldSize];  // IP address text as found by the search
    char username[kTextFieldSize];
    char password[kTextFieldSize];  // plain text; stored enciphered
    std::uint32_t cameras;          // channel count; only the low 16 bits are stored
    std::uint32_t ip;               // carried but never set by this program
    std::uint32_t port;             // low 16 bits are stored
    std::uint8_t reserved1[8];
    std::uint32_t ddnsFlag;  // low 8 bits are stored
    char ddnsHost[kTextFieldSize];
    std::uint32_t ddnsPort;
    std::uint32_t reserved2;
    std::uint32_t orgId;  // id of the OrgRecord the device belongs to
    std::uint8_t reserved3[56];
};

struct OrgRecord {
    std::uint32_t id;
    char name[kTextFieldSize];
};

// Per-channel camera types passed beside a DeviceRecord: 0 normal camera, 1 speed dome.
enum CameraType : std::int32_t { kNormalCamera = 0, kSpeedDome = 1 };
using CameraTypes = std::int32_t[kMaxChannels];

static_assert(std::is_standard_layout_v<DeviceRecord> && std::is_trivially_copyable_v<DeviceRecord>);
static_assert(sizeof(DeviceRecord) == 416);
static_assert(offsetof(DeviceRecord, id) == 0);
static_assert(offsetof(DeviceRecord, name) == 4);
static_assert(offsetof(DeviceRecord, host) == 68);
static_assert(offsetof(DeviceRecord, username) == 132);
static_assert(offsetof(DeviceRecord, password) == 196);
static_assert(offsetof(DeviceRecord, cameras) == 260);
static_assert(offsetof(DeviceRecord, ip) == 264);
static_assert(offsetof(DeviceRecord, port) == 268);
static_assert(offsetof(DeviceRecord, reserved1) == 272);
static_assert(offsetof(DeviceRecord, ddnsFlag) == 280);
static_assert(offsetof(DeviceRecord, ddnsHost) == 284);
static_assert(offsetof(DeviceRecord, ddnsPort) == 348);
static_assert(offsetof(DeviceRecord, reserved2) == 352);
static_assert(offsetof(DeviceRecord, orgId) == 356);
static_assert(offsetof(DeviceRecord, reserved3) == 360);

static_assert(std::is_standard_layout_v<OrgRecord> && std::is_trivially_copyable_v<OrgRecord>);
static_assert(sizeof(OrgRecord) == 68);
static_assert(offsetof(OrgRecord, id) == 0);
static_assert(offsetof(OrgRecord, name) == 4);

}  // namespace vantrel
