#include "store/device_store.h"

#include <new>

#include "app/paths/module_paths.h"
#include "store/xml_device_store.h"

namespace vantrel {
namespace {

DeviceStore* gStore = nullptr;

}  // namespace

std::unique_ptr<DeviceStore> OpenDeviceStore(const std::string& databasePath) {
    return std::make_unique<XmlDeviceStore>(databasePath);
}

DeviceStore* GetDeviceStore() {
    if (gStore == nullptr) {
        try {
            gStore = new XmlDeviceStore(GetDatabasePath());
        } catch (const std::bad_alloc&) {
            gStore = nullptr;
        }
    }
    return gStore;
}

void ReleaseDeviceStore() {
    delete gStore;
    gStore = nullptr;
}

}  // namespace vantrel
