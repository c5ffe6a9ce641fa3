#pragma once

// Records exchanged by the channel, image, map and device-tree operations of the store.

#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace vantrel {

struct ChannelEntry {
    std::uint32_t reserved;
    std::uint32_t id;       // "id" of the video-channel entry
    std::uint32_t channel;  // 0 to 255
    char name[84];
};

struct ImageRecord {
    std::uint32_t id;
    char name[128];
    char image[128];
    char desc[256];
};

struct VideoChannelRecord {
    std::uint32_t id;
    std::uint32_t cameraType;  // 0 to 255
    char name[128];
    char desc[256];
};

struct AlarmRecord {
    std::uint32_t id;
    char name[128];
    char desc[256];
};

// The entry arrays are allocated by LoadDeviceTree with new[]; release them with FreeDeviceTreeEntries.
// On a 64-bit platform the two addresses are real 8-byte pointers, so the record is 424 bytes with
// explicit padding before each pointer.
struct DeviceTreeRecord {
    std::uint32_t id;
    char name[128];
    char desc[256];
    std::uint32_t padding1;
    VideoChannelRecord* videoEntries;
    std::uint32_t videoCount;  // "cameras", low 16 bits
    std::uint32_t padding2;
    AlarmRecord* alarmEntries;
    std::uint32_t alarmCount;  // equal to videoCount
    std::uint32_t padding3;
};

struct MapItem {
    std::uint32_t id;
    std::uint32_t parentId;  // 0 for the root item
    std::uint32_t kind;      // 0 "IIMG" (and the root item), 1 "IDEV"
    std::uint32_t x;
    std::uint32_t y;
};

struct MapEntry {
    std::uint32_t id;
    std::uint32_t kind;  // 0 "IIMG", anything else "IDEV"
    std::uint32_t x;     // low 16 bits used
    std::uint32_t y;     // low 16 bits used
};

// Frees both entry arrays of a record filled by LoadDeviceTree and empties the pointers; safe on zeroed records.
inline void FreeDeviceTreeEntries(DeviceTreeRecord& record) {
    delete[] record.videoEntries;
    delete[] record.alarmEntries;
    record.videoEntries = nullptr;
    record.alarmEntries = nullptr;
}

static_assert(std::is_standard_layout_v<ChannelEntry> && sizeof(ChannelEntry) == 96);
static_assert(offsetof(ChannelEntry, id) == 4 && offsetof(ChannelEntry, channel) == 8 &&
              offsetof(ChannelEntry, name) == 12);
static_assert(std::is_standard_layout_v<ImageRecord> && sizeof(ImageRecord) == 516);
static_assert(offsetof(ImageRecord, name) == 4 && offsetof(ImageRecord, image) == 132 &&
              offsetof(ImageRecord, desc) == 260);
static_assert(std::is_standard_layout_v<VideoChannelRecord> && sizeof(VideoChannelRecord) == 392);
static_assert(offsetof(VideoChannelRecord, cameraType) == 4 && offsetof(VideoChannelRecord, name) == 8 &&
              offsetof(VideoChannelRecord, desc) == 136);
static_assert(std::is_standard_layout_v<AlarmRecord> && sizeof(AlarmRecord) == 388);
static_assert(offsetof(AlarmRecord, name) == 4 && offsetof(AlarmRecord, desc) == 132);
static_assert(std::is_standard_layout_v<MapItem> && sizeof(MapItem) == 20);
static_assert(offsetof(MapItem, parentId) == 4 && offsetof(MapItem, kind) == 8 && offsetof(MapItem, x) == 12 &&
              offsetof(MapItem, y) == 16);
static_assert(std::is_standard_layout_v<MapEntry> && sizeof(MapEntry) == 16);
static_assert(offsetof(MapEntry, kind) == 4 && offsetof(MapEntry, x) == 8 && offsetof(MapEntry, y) == 12);

static_assert(std::is_standard_layout_v<DeviceTreeRecord>);
static_assert(offsetof(DeviceTreeRecord, name) == 4 && offsetof(DeviceTreeRecord, desc) == 132);
#if UINTPTR_MAX == 0xFFFFFFFFFFFFFFFFu
static_assert(sizeof(DeviceTreeRecord) == 424);
static_assert(offsetof(DeviceTreeRecord, videoEntries) == 392 && offsetof(DeviceTreeRecord, videoCount) == 400 &&
              offsetof(DeviceTreeRecord, alarmEntries) == 408 && offsetof(DeviceTreeRecord, alarmCount) == 416);
#endif

}  // namespace vantrel
