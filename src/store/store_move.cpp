// Moving a device to another organization: only its "OrgId" changes.
#include <new>

#include "store_schema.h"
#include "xml_device_store_impl.h"

namespace vantrel {

int XmlDeviceStore::Impl::SetDeviceOrganization(std::uint32_t deviceId, std::uint32_t orgId) try {
    XmlNodeRef devices = tree_.Section(StoreSection::Devices);
    if (!devices.NameIs(schema::kDevInfo)) {
        return 0;
    }
    // a channel entry shares the element name and the id space: only a direct child is a device
    XmlNodeRef device = tree_.FindById(StoreSection::Devices, deviceId);
    if (!device.IsValid() || !(device.Parent() == devices)) {
        return 0;
    }
    if (orgId != 0 && !tree_.FindById(StoreSection::Organizations, orgId).IsValid()) {
        return 0;
    }
    replay_.ChangedBeyondReplay();
    return device.Attribute(schema::kOrgId).SetUnsigned(orgId).IsValid() ? 1 : 0;
} catch (const std::bad_alloc&) {
    return MemoryRanOut(0);
}

}  // namespace vantrel
