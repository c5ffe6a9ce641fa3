// Organization operations of the XML-backed store.

#include <cstring>

#include <new>

#include "attribute_copy.h"
#include "store/store_text.h"
#include "xml_device_store_impl.h"

namespace vantrel {

std::uint32_t XmlDeviceStore::Impl::CountChildOrgs(std::uint32_t parentId) try {
    XmlNodeRef orgs = tree_.Section(StoreSection::Organizations);
    if (!orgs.NameIs(schema::kOrgInfo)) {
        return 0;
    }
    if (parentId == 0) {
        return orgs.ChildCount();
    }
    return tree_.FindById(StoreSection::Organizations, parentId).ChildCount();
} catch (const std::bad_alloc&) {
    return MemoryRanOut(0u);
}

int XmlDeviceStore::Impl::LoadChildOrgs(std::uint32_t parentId, OrgRecord* records, std::uint32_t size) try {
    if (records == nullptr) {
        return 0;
    }
    XmlNodeRef orgs = tree_.Section(StoreSection::Organizations);
    if (!orgs.NameIs(schema::kOrgInfo)) {
        return 0;
    }
    XmlNodeRef parent = parentId == 0 ? orgs : tree_.FindById(StoreSection::Organizations, parentId);
    if (!parent.IsValid()) {
        return 1;
    }
    std::uint32_t count = parent.ChildCount();
    if (std::uint64_t{count} * sizeof(OrgRecord) > size) {
        return 0;
    }
    for (std::uint32_t i = 0; i < count; ++i) {
        XmlNodeRef child = parent.Child(i);
        if (!child.NameIs(schema::kOrg)) {
            continue;
        }
        records[i].id = child.Attribute(schema::kId).ValueAsUnsigned();
        CopyAttribute(child, schema::kName, records[i].name, sizeof records[i].name);
    }
    return 1;
} catch (const std::bad_alloc&) {
    return MemoryRanOut(0);
}

int XmlDeviceStore::Impl::RenameOrganization(std::uint32_t orgId, const char* name) try {
    if (name == nullptr || !IsStorableText(name)) {
        return 0;
    }
    XmlNodeRef orgs = tree_.Section(StoreSection::Organizations);
    if (!orgs.NameIs(schema::kOrgInfo)) {
        return 0;
    }
    XmlNodeRef org = tree_.FindById(StoreSection::Organizations, orgId);
    if (!org.IsValid()) {
        return 0;
    }
    tree_.ValuesChanged();
    if (!org.Attribute(schema::kName).SetValue(name)) {
        return 0;
    }
    replay_.OrganizationRenamed(orgId, name);
    return 1;
} catch (const std::bad_alloc&) {
    return MemoryRanOut(0);
}

std::uint32_t XmlDeviceStore::Impl::AddOrganization(std::uint32_t parentId, const char* name) try {
    condition_.refusal.clear();
    if (name == nullptr || !IsStorableText(name)) {
        return 0;
    }
    XmlNodeRef orgs = tree_.Section(StoreSection::Organizations);
    XmlNodeRef parent = parentId == 0 ? orgs : tree_.FindById(StoreSection::Organizations, parentId);
    if (!parent.IsValid() || parent.FindChildByName(name).IsValid()) {
        return 0;
    }
    XmlNodeRef org = tree_.NewElement(parent, schema::kOrg);
    if (!org.IsValid()) {
        return Refused(0u, NoIdentifierReason());
    }
    org.Attribute(schema::kName).SetValue(name);
    std::uint32_t id = org.Attribute(schema::kId).ValueAsUnsigned();
    replay_.OrganizationAdded(id, parentId, name);
    return id;
} catch (const std::bad_alloc&) {
    return MemoryRanOut(0u);
}

int XmlDeviceStore::Impl::RemoveOrganization(std::uint32_t orgId) try {
    if (orgId == 0) {
        return 0;
    }
    XmlNodeRef orgs = tree_.Section(StoreSection::Organizations);
    if (!orgs.NameIs(schema::kOrgInfo)) {
        return 0;
    }
    tree_.RemoveFirstByAttribute(orgs, nullptr, schema::kId, UnsignedText(orgId), 0xFFFFFFFFu, false);
    replay_.OrganizationRemoved(orgId);
    return 1;
} catch (const std::bad_alloc&) {
    return MemoryRanOut(0);
}

int XmlDeviceStore::Impl::GetOrganizationItemIds(std::uint32_t orgId, std::uint32_t* ids, std::uint32_t capacity) try {
    if (ids == nullptr) {
        return 0;
    }
    XmlNodeRef org = tree_.FindById(StoreSection::Organizations, orgId);
    if (!org.IsValid() || capacity < org.ChildCount()) {
        return 0;
    }
    for (std::uint32_t i = 0; i < org.ChildCount(); ++i) {
        XmlNodeRef child = org.Child(i);
        if (child.NameIs(schema::kMapImage) || child.NameIs(schema::kMapDevice)) {
            ids[i] = child.Attribute(schema::kId).ValueAsUnsigned();
        }
    }
    return 1;
} catch (const std::bad_alloc&) {
    return MemoryRanOut(0);
}

std::uint32_t XmlDeviceStore::Impl::FindOrganizationByName(std::uint32_t parentId, const char* name) try {
    if (name == nullptr) {
        return 0;
    }
    XmlNodeRef orgs = tree_.Section(StoreSection::Organizations);
    XmlNodeRef parent = parentId == 0 ? orgs : tree_.FindById(StoreSection::Organizations, parentId);
    XmlNodeRef org = parent.FindChildByName(name);
    return org.NameIs(schema::kOrg) ? org.Attribute(schema::kId).ValueAsUnsigned() : 0;
} catch (const std::bad_alloc&) {
    return MemoryRanOut(0u);
}

}  // namespace vantrel
