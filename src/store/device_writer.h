#pragma once

// Writes a device's attributes from a record, and its channel entries: the one writer behind AddDevices and
// ModifyDevice. The two operations write the same fields in different orders; an attribute the element lacks
// is appended, so the order decides where new attributes land.

#include <cstdint>
#include <string>

#include "records/records.h"
#include "store_tree.h"

namespace vantrel {

// Channel numbers are stored in 8 bits; more channels would give entries that collide. A caller's count above
// it is refused; a stored "cameras" above it (from a file) counts as this many where entries are walked.
inline constexpr std::uint32_t kMaxStoredChannels = 256;

// The device's "cameras" (low 16 bits), at most kMaxStoredChannels; reads only.
std::uint32_t StoredChannels(XmlNodeRef device);

// The texts of a record that go into attributes are terminated and storable, and its channel count fits the
// 8-bit channel numbers.
bool IsWritableRecord(const DeviceRecord& record);

enum class DeviceFieldOrder {
    // ip, name, host, port, cameras, ddnsFlag, DDNSHost, DDNSPort, desc (empty), username, OrgId, password
    Added,
    // ip, host, port, cameras, name, username, ddnsFlag, DDNSHost, DDNSPort, password; OrgId, desc and id kept
    Modified,
};

// Writes the record's fields in that order; cipher is the enciphered password, or null to keep the stored one.
void WriteDeviceFields(XmlNodeRef device, const DeviceRecord& record, const char* cipher, DeviceFieldOrder order);

// Creates the video and alarm entries of channels first to last - 1 (counted from 0), named after deviceName
// (Gate_1, Gate_alarm1, ...), skipping a channel's entry that exists already.
void AddChannelEntries(StoreTree& tree, XmlNodeRef device, const std::string& deviceName, std::uint32_t first,
                       std::uint32_t last);

// "Gate_3" or "Gate_alarm3" for channel number 3 (counted from 1).
std::string EntryName(const std::string& deviceName, schema::EntryType type, std::uint32_t number);

}  // namespace vantrel
