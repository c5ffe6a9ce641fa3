#include "store/device_store.h"

#include "store/xml_device_store.h"

namespace vantrel {

std::unique_ptr<DeviceStore> OpenDeviceStore(const std::string& databasePath) {
    return std::make_unique<XmlDeviceStore>(databasePath);
}

}  // namespace vantrel
