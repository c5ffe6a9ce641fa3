// Image and map operations of the XML-backed store.

#include <new>
#include <unordered_set>

#include "attribute_copy.h"
#include "store/store_text.h"
#include "xml_device_store_impl.h"

namespace vantrel {
namespace {

bool IsMapItem(XmlNodeRef node) {
    return node.NameIs(schema::kMapImage) || node.NameIs(schema::kMapDevice);
}

bool IsWritableImage(const ImageRecord& record) {
    return IsStorableField(record.name, sizeof record.name) && IsStorableField(record.image, sizeof record.image) &&
           IsStorableField(record.desc, sizeof record.desc);
}

MapItem ItemOf(XmlNodeRef node, std::uint32_t parentId, std::uint32_t kind) {
    std::uint32_t pos = node.Attribute(schema::kPos).ValueAsUnsigned();
    return MapItem{node.Attribute(schema::kId).ValueAsUnsigned(), parentId, kind, pos & 0xFFFF, pos >> 16};
}

// Every schema::kId text on the map section and below it; reads add nothing.
std::unordered_set<std::string> IdsOnMap(XmlNodeRef map) {
    std::unordered_set<std::string> ids;
    if (!map.IsValid()) {
        return ids;
    }
    XmlAttributeRef own = map.FindAttribute(schema::kId);
    if (own.IsValid()) {
        ids.insert(own.Value());
    }
    map.VisitDescendants([&ids](XmlNodeRef node) {
        XmlAttributeRef id = node.FindAttribute(schema::kId);
        if (id.IsValid()) {
            ids.insert(id.Value());
        }
        return true;
    });
    return ids;
}

}  // namespace

std::uint32_t XmlDeviceStore::Impl::CountImages() try {
    return tree_.Section(StoreSection::Images).ChildCount();
} catch (const std::bad_alloc&) {
    return MemoryRanOut(0u);
}

int XmlDeviceStore::Impl::LoadImages(ImageRecord* records, std::uint32_t capacity) try {
    if (records == nullptr) {
        return 0;
    }
    XmlNodeRef images = tree_.Section(StoreSection::Images);
    std::uint32_t count = images.ChildCount();
    if (capacity < count) {
        return 0;
    }
    for (std::uint32_t i = 0; i < count; ++i) {
        XmlNodeRef image = images.Child(i);
        if (!image.NameIs(schema::kImg)) {
            continue;
        }
        ImageRecord& record = records[i];
        record = ImageRecord{};
        record.id = image.Attribute(schema::kId).ValueAsUnsigned();
        CopyAttribute(image, schema::kName, record.name, sizeof record.name);
        CopyAttribute(image, schema::kImage, record.image, sizeof record.image);
        CopyAttribute(image, schema::kDesc, record.desc, sizeof record.desc);
    }
    return 1;
} catch (const std::bad_alloc&) {
    return MemoryRanOut(0);
}

int XmlDeviceStore::Impl::AddImages(ImageRecord* records, std::uint32_t size) try {
    condition_.refusal.clear();
    if (records == nullptr || size < sizeof(ImageRecord)) {
        return 0;
    }
    std::uint32_t count = size / sizeof(ImageRecord);
    for (std::uint32_t i = 0; i < count; ++i) {
        if (!IsWritableImage(records[i])) {
            return 0;
        }
    }
    XmlNodeRef images = tree_.Section(StoreSection::Images);
    if (!tree_.CanGiveIdentifiers(count)) {
        return Refused(0, NoIdentifierReason());
    }
    for (std::uint32_t i = 0; i < count; ++i) {
        XmlNodeRef image = tree_.NewElement(images, schema::kImg);
        if (!image.IsValid()) {
            return 0;
        }
        image.Attribute(schema::kName).SetValue(records[i].name);
        image.Attribute(schema::kImage).SetValue(records[i].image);
        image.Attribute(schema::kDesc).SetValue(records[i].desc);
        records[i].id = image.Attribute(schema::kId).ValueAsUnsigned();
        replay_.ChangedBeyondReplay();
    }
    return 1;
} catch (const std::bad_alloc&) {
    return MemoryRanOut(0);
}

int XmlDeviceStore::Impl::RemoveImage(const std::uint32_t* imageId) try {
    if (imageId == nullptr) {
        return 0;
    }
    std::string idText = UnsignedText(*imageId);
    replay_.ChangedBeyondReplay();
    tree_.RemoveAllWithId(tree_.Section(StoreSection::Map), idText);
    tree_.RemoveFirstByAttribute(tree_.Section(StoreSection::Images), nullptr, schema::kId, idText, 0xFFFFFFFFu, true);
    return 1;
} catch (const std::bad_alloc&) {
    return MemoryRanOut(0);
}

int XmlDeviceStore::Impl::ModifyImage(std::uint32_t, const ImageRecord* record) try {
    if (record == nullptr || !IsWritableImage(*record)) {
        return 0;
    }
    XmlNodeRef images = tree_.Section(StoreSection::Images);
    std::string idText = UnsignedText(record->id);
    for (std::uint32_t i = 0; i < images.ChildCount(); ++i) {
        XmlNodeRef image = images.Child(i);
        if (image.NameIs(schema::kImg) && image.Attribute(schema::kId).Value() == idText) {
            tree_.ValuesChanged();
            replay_.ChangedBeyondReplay();
            image.Attribute(schema::kName).SetValue(record->name);
            image.Attribute(schema::kImage).SetValue(record->image);
            image.Attribute(schema::kDesc).SetValue(record->desc);
            return 1;
        }
    }
    return 0;
} catch (const std::bad_alloc&) {
    return MemoryRanOut(0);
}

int XmlDeviceStore::Impl::LoadMapTree(std::vector<MapItem>& items) try {
    XmlNodeRef root = tree_.Section(StoreSection::Map).Child(0);
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
        if (child.NameIs(schema::kMapImage)) {
            MapItem item = ItemOf(child, parentId, 0);
            items.push_back(item);
            stack.push_back(Frame{child, item.id, 0});
        } else if (child.NameIs(schema::kMapDevice)) {
            items.push_back(ItemOf(child, parentId, 1));
        }
    }
    return 1;
} catch (const std::bad_alloc&) {
    return MemoryRanOut(0);
}

int XmlDeviceStore::Impl::SaveMapTree(const MapEntriesByParent& entries) try {
    replay_.ChangedBeyondReplay();
    XmlNodeRef first = tree_.Section(StoreSection::Map).Child(0);
    if (IsMapItem(first)) {
        tree_.RemoveAllWithId(tree_.Section(StoreSection::Map), first.Attribute(schema::kId).Value());
    }
    XmlNodeRef map = tree_.Section(StoreSection::Map);
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
        if (!item.SetName(isImage ? schema::kMapImage : schema::kMapDevice)) {
            ok = false;
            break;
        }
        item.Attribute(schema::kId).SetUnsigned(entry.id);
        item.Attribute(schema::kPos).SetUnsigned((entry.x & 0xFFFF) | ((entry.y & 0xFFFF) << 16));
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
} catch (const std::bad_alloc&) {
    return MemoryRanOut(0);
}

}  // namespace vantrel
