#include "store/device_store.h"

#include <new>

#include "app/paths/module_paths.h"
#include "password/password.h"
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
            auto* store = new XmlDeviceStore(GetDatabasePath());
            // callers of the three-argument cipher calls use the same key as the store
            SetPasswordKeyFile(store->KeyPath());
            gStore = store;
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
