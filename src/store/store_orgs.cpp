// Organization operations of the XML-backed store.

#include <cstring>

#include "store/attribute_copy.h"
#include "store/store_text.h"
#include "store/xml_device_store.h"

namespace vantrel {

std::uint32_t XmlDeviceStore::CountChildOrgs(std::uint32_t parentId) {
    XmlNodeRef orgs = Section(kOrgInfo);
    if (!orgs.NameIs("ORGINFO")) {
        return 0;
    }
    if (parentId == 0) {
        return orgs.ChildCount();
    }
    return FindById(orgs, "ORG", parentId).ChildCount();
}

int XmlDeviceStore::LoadChildOrgs(std::uint32_t parentId, OrgRecord* records, std::uint32_t size) {
    if (records == nullptr) {
        return 0;
    }
    XmlNodeRef orgs = Section(kOrgInfo);
    if (!orgs.NameIs("ORGINFO")) {
        return 0;
    }
    XmlNodeRef parent = parentId == 0 ? orgs : FindById(orgs, "ORG", parentId);
    if (!parent.IsValid()) {
        return 1;
    }
    std::uint32_t count = parent.ChildCount();
    if (std::uint64_t{count} * sizeof(OrgRecord) > size) {
        return 0;
    }
    for (std::uint32_t i = 0; i < count; ++i) {
        XmlNodeRef child = parent.Child(i);
        if (!child.NameIs("ORG")) {
            continue;
        }
        records[i].id = child.Attribute("id").ValueAsUnsigned();
        CopyAttribute(child, "name", records[i].name, sizeof records[i].name);
    }
    return 1;
}

int XmlDeviceStore::RenameOrganization(std::uint32_t orgId, const char* name) {
    if (name == nullptr || !IsStorableText(name)) {
        return 0;
    }
    XmlNodeRef orgs = Section(kOrgInfo);
    if (!orgs.NameIs("ORGINFO")) {
        return 0;
    }
    XmlNodeRef org = FindById(orgs, "ORG", orgId);
    if (!org.IsValid()) {
        return 0;
    }
    scan_.Invalidate();
    if (!org.Attribute("name").SetValue(name)) {
        return 0;
    }
    Remember(PendingChange{PendingChange::RenameOrganization, orgId, DeviceRecord{}, name, 0, {}});
    return 1;
}

std::uint32_t XmlDeviceStore::AddOrganization(std::uint32_t parentId, const char* name) {
    if (name == nullptr || !IsStorableText(name)) {
        return 0;
    }
    XmlNodeRef orgs = Section(kOrgInfo);
    XmlNodeRef parent = parentId == 0 ? orgs : FindById(orgs, "ORG", parentId);
    if (!parent.IsValid() || parent.FindChildByName(name).IsValid()) {
        return 0;
    }
    XmlNodeRef org = NewElement(parent, "ORG", Global());
    if (!org.IsValid()) {
        return 0;
    }
    org.Attribute("name").SetValue(name);
    std::uint32_t id = org.Attribute("id").ValueAsUnsigned();
    Remember(PendingChange{PendingChange::AddOrganization, id, DeviceRecord{}, name, parentId, {}});
    return id;
}

int XmlDeviceStore::RemoveOrganization(std::uint32_t orgId) {
    if (orgId == 0) {
        return 0;
    }
    XmlNodeRef orgs = Section(kOrgInfo);
    if (!orgs.NameIs("ORGINFO")) {
        return 0;
    }
    RemoveFirstByAttribute(orgs, nullptr, "id", UnsignedText(orgId), 0xFFFFFFFFu, false);
    Remember(PendingChange{PendingChange::RemoveOrganization, orgId, DeviceRecord{}, "", 0, {}});
    return 1;
}

int XmlDeviceStore::GetOrganizationItemIds(std::uint32_t orgId, std::uint32_t* ids, std::uint32_t capacity) {
    if (ids == nullptr) {
        return 0;
    }
    XmlNodeRef org = FindById(Section(kOrgInfo), "ORG", orgId);
    if (!org.IsValid() || capacity < org.ChildCount()) {
        return 0;
    }
    for (std::uint32_t i = 0; i < org.ChildCount(); ++i) {
        XmlNodeRef child = org.Child(i);
        if (child.NameIs("IIMG") || child.NameIs("IDEV")) {
            ids[i] = child.Attribute("id").ValueAsUnsigned();
        }
    }
    return 1;
}

std::uint32_t XmlDeviceStore::FindOrganizationByName(std::uint32_t parentId, const char* name) {
    if (name == nullptr) {
        return 0;
    }
    XmlNodeRef orgs = Section(kOrgInfo);
    XmlNodeRef parent = parentId == 0 ? orgs : FindById(orgs, "ORG", parentId);
    XmlNodeRef org = parent.FindChildByName(name);
    return org.NameIs("ORG") ? org.Attribute("id").ValueAsUnsigned() : 0;
}

}  // namespace vantrel
