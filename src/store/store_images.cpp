// Image and map operations of the XML-backed store.

#include <unordered_set>

#include "store/attribute_copy.h"
#include "store/store_text.h"
#include "store/xml_device_store.h"

namespace vantrel {
namespace {

bool IsMapItem(XmlNodeRef node) {
    return node.NameIs("IIMG") || node.NameIs("IDEV");
}

bool IsWritableImage(const ImageRecord& record) {
    return IsStorableField(record.name, sizeof record.name) && IsStorableField(record.image, sizeof record.image) &&
           IsStorableField(record.desc, sizeof record.desc);
}

MapItem ItemOf(XmlNodeRef node, std::uint32_t parentId, std::uint32_t kind) {
    std::uint32_t pos = node.Attribute("pos").ValueAsUnsigned();
    return MapItem{node.Attribute("id").ValueAsUnsigned(), parentId, kind, pos & 0xFFFF, pos >> 16};
}

// Every "id" text on the map section and below it; reads add nothing.
std::unordered_set<std::string> IdsOnMap(XmlNodeRef map) {
    std::unordered_set<std::string> ids;
    if (!map.IsValid()) {
        return ids;
    }
    XmlAttributeRef own = map.FindAttribute("id");
    if (own.IsValid()) {
        ids.insert(own.Value());
    }
    map.VisitDescendants([&ids](XmlNodeRef node) {
        XmlAttributeRef id = node.FindAttribute("id");
        if (id.IsValid()) {
            ids.insert(id.Value());
        }
        return true;
    });
    return ids;
}

}  // namespace

std::uint32_t XmlDeviceStore::CountImages() {
    return Section(kImgInfo).ChildCount();
}

int XmlDeviceStore::LoadImages(ImageRecord* records, std::uint32_t capacity) {
    if (records == nullptr) {
        return 0;
    }
    XmlNodeRef images = Section(kImgInfo);
    std::uint32_t count = images.ChildCount();
    if (capacity < count) {
        return 0;
    }
    for (std::uint32_t i = 0; i < count; ++i) {
        XmlNodeRef image = images.Child(i);
        if (!image.NameIs("IMG")) {
            continue;
        }
        ImageRecord& record = records[i];
        record = ImageRecord{};
        record.id = image.Attribute("id").ValueAsUnsigned();
        CopyAttribute(image, "name", record.name, sizeof record.name);
        CopyAttribute(image, "image", record.image, sizeof record.image);
        CopyAttribute(image, "desc", record.desc, sizeof record.desc);
    }
    return 1;
}

int XmlDeviceStore::AddImages(ImageRecord* records, std::uint32_t size) {
    if (records == nullptr || size < sizeof(ImageRecord)) {
        return 0;
    }
    std::uint32_t count = size / sizeof(ImageRecord);
    for (std::uint32_t i = 0; i < count; ++i) {
        if (!IsWritableImage(records[i])) {
            return 0;
        }
    }
    XmlNodeRef images = Section(kImgInfo);
    for (std::uint32_t i = 0; i < count; ++i) {
        XmlNodeRef image = NewElement(images, "IMG", Global());
        if (!image.IsValid()) {
            return 0;
        }
        image.Attribute("name").SetValue(records[i].name);
        image.Attribute("image").SetValue(records[i].image);
        image.Attribute("desc").SetValue(records[i].desc);
        records[i].id = image.Attribute("id").ValueAsUnsigned();
        ChangedBeyondReplay();
    }
    return 1;
}

int XmlDeviceStore::RemoveImage(const std::uint32_t* imageId) {
    if (imageId == nullptr) {
        return 0;
    }
    std::string idText = UnsignedText(*imageId);
    ChangedBeyondReplay();
    RemoveAllWithId(Section(kMapInfo), idText);
    RemoveFirstByAttribute(Section(kImgInfo), nullptr, "id", idText, 0xFFFFFFFFu, true);
    return 1;
}

int XmlDeviceStore::ModifyImage(std::uint32_t, const ImageRecord* record) {
    if (record == nullptr || !IsWritableImage(*record)) {
        return 0;
    }
    XmlNodeRef images = Section(kImgInfo);
    std::string idText = UnsignedText(record->id);
    for (std::uint32_t i = 0; i < images.ChildCount(); ++i) {
        XmlNodeRef image = images.Child(i);
        if (image.NameIs("IMG") && image.Attribute("id").Value() == idText) {
            scan_.Invalidate();
            ChangedBeyondReplay();
            image.Attribute("name").SetValue(record->name);
            image.Attribute("image").SetValue(record->image);
            image.Attribute("desc").SetValue(record->desc);
            return 1;
        }
    }
    return 0;
}

int XmlDeviceStore::LoadMapTree(std::vector<MapItem>& items) {
    XmlNodeRef root = Section(kMapInfo).Child(0);
    if (!IsMapItem(root)) {
        return 1;
    }
    MapItem rootItem = ItemOf(root, 0, 0);
    items.push_back(rootItem);
    struct Frame {
        XmlNodeRef node;
        std::uint32_t id;
        std::uint32_t next;
    };
    std::vector<Frame> stack{{root, rootItem.id, 0}};
    while (!stack.empty()) {
        Frame& frame = stack.back();
        if (frame.next >= frame.node.ChildCount()) {
            stack.pop_back();
            continue;
        }
        XmlNodeRef child = frame.node.Child(frame.next++);
        std::uint32_t parentId = frame.id;
        if (child.NameIs("IIMG")) {
            MapItem item = ItemOf(child, parentId, 0);
            items.push_back(item);
            stack.push_back(Frame{child, item.id, 0});
        } else if (child.NameIs("IDEV")) {
            items.push_back(ItemOf(child, parentId, 1));
        }
    }
    return 1;
}

int XmlDeviceStore::SaveMapTree(const MapEntriesByParent& entries) {
    ChangedBeyondReplay();
    XmlNodeRef first = Section(kMapInfo).Child(0);
    if (IsMapItem(first)) {
        RemoveAllWithId(Section(kMapInfo), first.Attribute("id").Value());
    }
    XmlNodeRef map = Section(kMapInfo);
    std::unordered_set<std::string> usedIds = IdsOnMap(map);

    struct Frame {
        XmlNodeRef parent;
        const std::vector<MapEntry>* list;
        std::size_t next;
    };
    std::vector<Frame> stack;
    // Looks a parent up: false when the map holds it without a list; no entry means nothing to add.
    auto push = [&](XmlNodeRef parent, std::uint32_t parentId) {
        auto found = entries.find(parentId);
        if (found == entries.end()) {
            return true;
        }
        if (found->second == nullptr || (parentId == 0 && found->second->size() > 1)) {
            return false;
        }
        stack.push_back(Frame{parent, found->second, 0});
        return true;
    };
    bool ok = push(map, 0);
    while (ok && !stack.empty()) {
        Frame& frame = stack.back();
        if (frame.next >= frame.list->size()) {
            stack.pop_back();
            continue;
        }
        const MapEntry& entry = (*frame.list)[frame.next++];
        XmlNodeRef parent = frame.parent;
        bool isImage = entry.kind == 0;
        std::string idText = UnsignedText(entry.id);
        bool atRoot = parent == map;
        // only one root item, and an image appears once on the map (this also ends cycles in the input)
        if ((atRoot && map.ChildCount() > 0) || (!atRoot && map.ChildCount() == 0) ||
            (isImage && usedIds.count(idText) > 0)) {
            continue;
        }
        XmlNodeRef item = parent.AppendChild(XmlNodeKind::Element);
        if (!item.SetName(isImage ? "IIMG" : "IDEV")) {
            ok = false;
            break;
        }
        item.Attribute("id").SetUnsigned(entry.id);
        item.Attribute("pos").SetUnsigned((entry.x & 0xFFFF) | ((entry.y & 0xFFFF) << 16));
        usedIds.insert(idText);
        if (isImage) {
            ok = push(item, entry.id);
        }
    }
    if (!ok) {
        return 0;
    }
    // the caller is told when the file could not be written
    return Save();
}

}  // namespace vantrel
