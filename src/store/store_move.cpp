// Moving a device to another organization: only its "OrgId" changes.
#include "store/xml_device_store.h"

namespace vantrel {

int XmlDeviceStore::SetDeviceOrganization(std::uint32_t deviceId, std::uint32_t orgId) {
    XmlNodeRef devices = Section(kDevInfo);
    if (!devices.NameIs("DEVINFO")) {
        return 0;
    }
    // a channel entry shares the element name and the id space: only a direct child is a device
    XmlNodeRef device = FindById(devices, "DEV", deviceId);
    if (!device.IsValid() || !(device.Parent() == devices)) {
        return 0;
    }
    if (orgId != 0 && !FindById(Section(kOrgInfo), "ORG", orgId).IsValid()) {
        return 0;
    }
    ChangedBeyondReplay();
    return device.Attribute("OrgId").SetUnsigned(orgId).IsValid() ? 1 : 0;
}

}  // namespace vantrel
