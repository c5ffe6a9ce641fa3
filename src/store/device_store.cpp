#include "store/device_store.h"

#include <cstring>
#include <vector>

#include "store/xml_device_store.h"

namespace vantrel {

int DeviceStore::LoadDeviceRecord(std::uint32_t deviceId, DeviceRecord* record) {
    std::uint32_t count = CountDeviceRecords();
    if (record == nullptr || count == 0) {
        return 0;
    }
    std::vector<DeviceRecord> records(count);
    if (LoadDeviceRecords(records.data(), count * static_cast<std::uint32_t>(sizeof(DeviceRecord))) == 0) {
        return 0;
    }
    int found = 0;
    for (DeviceRecord& candidate : records) {
        if (found == 0 && candidate.id == deviceId) {
            std::memcpy(record, &candidate, sizeof candidate);
            found = 1;
        }
        explicit_bzero(candidate.password, sizeof candidate.password);
    }
    return found;
}

std::unique_ptr<DeviceStore> OpenDeviceStore(const std::string& databasePath) {
    return std::make_unique<XmlDeviceStore>(databasePath);
}

}  // namespace vantrel
