#include <cstring>
#include <new>

#include "xml/xml_load_result.h"
#include "xml_arena.h"
#include "xml_tree_ops.h"

namespace vantrel {

// A child array stops growing at kXmlMaxChildCapacity; a parsed tree's budget holds fewer nodes than that.
static_assert(kXmlTreeMaxBytes / sizeof(XmlNode) <= kXmlMaxChildCapacity, "budget ends before the capacity");

namespace {

bool TakesAttributeArray(XmlNodeKind kind) {
    switch (kind) {
        case XmlNodeKind::Document:
        case XmlNodeKind::Text:
        case XmlNodeKind::CData:
        case XmlNodeKind::Comment:
        case XmlNodeKind::IncludeSection:
            return false;
        default:
            return true;
    }
}

bool TakesChildArray(XmlNodeKind kind) {
    return kind == XmlNodeKind::Document || kind == XmlNodeKind::Element || kind == XmlNodeKind::Doctype;
}

std::uint32_t GrownCapacity(std::uint32_t capacity, std::uint32_t growthStep, std::uint32_t limit) {
    if (growthStep < 1)
        growthStep = 1;
    std::uint64_t wanted = std::uint64_t{capacity} * 2;
    if (wanted < std::uint64_t{capacity} + growthStep)
        wanted = std::uint64_t{capacity} + growthStep;
    if (wanted > limit)
        wanted = limit;
    return static_cast<std::uint32_t>(wanted);
}

// Element is trivially copyable (pointers or attribute records). The new capacity is at most limit, and 0
// when the array cannot grow.
template <typename Element>
std::uint32_t GrowArray(XmlArena* arena, Element*& array, std::uint32_t count, std::uint32_t capacity,
                        std::uint32_t step, std::uint32_t limit) {
    std::uint32_t wanted = GrownCapacity(capacity, step, limit);
    if (wanted <= capacity)
        return 0;
    std::size_t bytes = XmlArena::RoundUp(std::size_t{wanted} * sizeof(Element));
    auto* grown = static_cast<Element*>(arena->Allocate(bytes));
    if (grown == nullptr)
        return 0;
    if (count > 0)
        std::memcpy(static_cast<void*>(grown), array, std::size_t{count} * sizeof(Element));
    arena->Release(array, std::size_t{capacity} * sizeof(Element));
    array = grown;
    // a large block is given back by its address, not its size: a capacity cut to the limit is safe
    std::size_t usable = bytes / sizeof(Element);
    return static_cast<std::uint32_t>(usable < limit ? usable : limit);
}

void ReleaseOwnedSpan(XmlArena* arena, std::uint32_t at, std::uint32_t length, bool borrowed) {
    if (borrowed || at == kXmlNoSpan)
        return;
    XmlReleaseText(arena, arena->CopyInSlot(at), length);
    arena->ReleaseSlot(at);
}

// An owned name is NUL-terminated and holds no NUL: its length is found again.
void ReleaseOwnedName(XmlArena* arena, const XmlAttribute& attribute) {
    if (!attribute.nameBorrowed) {
        char* copy = arena->CopyInSlot(attribute.nameAt);
        ReleaseOwnedSpan(arena, attribute.nameAt, static_cast<std::uint32_t>(std::strlen(copy)), false);
    }
}

void FreeNodeRecord(XmlArena* arena, XmlNode* node) {
    for (std::uint32_t i = 0; i < node->attributeCount; ++i) {
        XmlReleaseAttributeCopies(arena, node->attributes[i]);
    }
    arena->Release(node->attributes, std::size_t{node->attributeCapacity} * sizeof(XmlAttribute));
    arena->Release(node->children, std::size_t{node->childCapacity} * sizeof(XmlNode*));
    ReleaseOwnedSpan(arena, node->nameAt, node->nameLength, node->nameBorrowed);
    ReleaseOwnedSpan(arena, node->valueAt, node->valueLength, node->valueBorrowed);
    node->~XmlNode();
    arena->Release(node, sizeof(XmlNode));
}

}  // namespace

XmlNode* XmlNewNodeIn(XmlArena* arena, XmlNodeKind kind, bool withArrays) {
    void* memory = arena->Allocate(sizeof(XmlNode));
    if (memory == nullptr)
        return nullptr;
    auto* node = new (memory) XmlNode();
    node->kind = kind;
    node->arena = arena;
    if (withArrays) {
        if (TakesAttributeArray(kind)) {
            node->attributes = static_cast<XmlAttribute*>(arena->Allocate(sizeof(XmlAttribute)));
            if (node->attributes != nullptr)
                node->attributeCapacity = 1;
        }
        if (TakesChildArray(kind)) {
            node->children = static_cast<XmlNode**>(arena->Allocate(sizeof(XmlNode*)));
            if (node->children != nullptr)
                node->childCapacity = 1;
        }
    }
    return node;
}

bool XmlAppendChildSlot(XmlNode* node, XmlNode* child, std::uint32_t growthStep) {
    if (node->childCount == node->childCapacity) {
        std::uint32_t grown = GrowArray(node->arena, node->children, node->childCount, node->childCapacity, growthStep,
                                        kXmlMaxChildCapacity);
        if (grown == 0)
            return false;
        node->childCapacity = grown;
    }
    node->children[node->childCount++] = child;
    return true;
}

XmlAttribute* XmlAppendAttribute(XmlNode* node, std::uint32_t growthStep) {
    if (node->attributeCount == node->attributeCapacity) {
        std::uint32_t grown = GrowArray(node->arena, node->attributes, node->attributeCount, node->attributeCapacity,
                                        growthStep, kXmlMaxAttributeCapacity);
        if (grown == 0)
            return nullptr;
        node->attributeCapacity = grown;
    }
    return new (&node->attributes[node->attributeCount++]) XmlAttribute();
}

char* XmlCopyText(XmlArena* arena, const char* text, std::size_t length) {
    auto* copy = static_cast<char*>(arena->Allocate(length + 1));
    if (copy == nullptr)
        return nullptr;
    if (length > 0)
        std::memcpy(copy, text, length);
    copy[length] = '\0';
    return copy;
}

bool XmlSetAttributeCopy(XmlArena* arena, XmlAttribute& attribute, bool name, const char* text, std::size_t length) {
    char* copy = length <= 0x7FFFFFFFu ? XmlCopyText(arena, text, length) : nullptr;
    std::uint32_t slot = copy != nullptr ? arena->AdoptCopy(copy) : XmlArena::kNoSlot;
    if (slot == XmlArena::kNoSlot) {
        XmlReleaseText(arena, copy, static_cast<std::uint32_t>(length));
        copy = nullptr;
    }
    // the old span goes only now: text may point into it
    if (name) {
        ReleaseOwnedName(arena, attribute);
        attribute.nameAt = copy != nullptr ? slot : kXmlNoName;
        attribute.nameBorrowed = copy != nullptr ? 0 : 1;
    } else {
        ReleaseOwnedSpan(arena, attribute.valueAt, attribute.valueLength, attribute.valueBorrowed);
        attribute.valueAt = copy != nullptr ? slot : kXmlNoSpan;
        attribute.valueLength = copy != nullptr ? static_cast<std::uint32_t>(length) : 0;
        attribute.valueBorrowed = copy != nullptr ? 0 : 1;
    }
    return copy != nullptr;
}

bool XmlSetNodeCopy(XmlNode* node, bool name, const char* text, std::size_t length) {
    XmlArena* arena = node->arena;
    char* copy = length <= 0x7FFFFFFFu ? XmlCopyText(arena, text, length) : nullptr;
    std::uint32_t slot = copy != nullptr ? arena->AdoptCopy(copy) : XmlArena::kNoSlot;
    if (slot == XmlArena::kNoSlot) {
        XmlReleaseText(arena, copy, static_cast<std::uint32_t>(length));
        copy = nullptr;
    }
    std::uint32_t at = copy != nullptr ? slot : kXmlNoSpan;
    auto copied = static_cast<std::uint32_t>(copy != nullptr ? length : 0);
    // the old span goes only now: text may point into it
    if (name) {
        ReleaseOwnedSpan(arena, node->nameAt, node->nameLength, node->nameBorrowed);
        node->nameAt = at;
        node->nameLength = copied;
        node->nameBorrowed = copy != nullptr ? 0 : 1;
    } else {
        ReleaseOwnedSpan(arena, node->valueAt, node->valueLength, node->valueBorrowed);
        node->valueAt = at;
        node->valueLength = copied;
        node->valueBorrowed = copy != nullptr ? 0 : 1;
    }
    return copy != nullptr;
}

void XmlReleaseAttributeCopies(XmlArena* arena, XmlAttribute& attribute) {
    ReleaseOwnedName(arena, attribute);
    ReleaseOwnedSpan(arena, attribute.valueAt, attribute.valueLength, attribute.valueBorrowed);
    attribute = XmlAttribute();
}

void XmlReleaseText(XmlArena* arena, char* text, std::uint32_t length) {
    if (text != nullptr)
        arena->Release(text, std::size_t{length} + 1);
}

XmlNode* XmlNewNode(XmlNodeKind kind, std::uint64_t budget) {
    auto* arena = new (std::nothrow) XmlArena(budget);
    if (arena == nullptr)
        return nullptr;
    XmlNode* node = XmlNewNodeIn(arena, kind, true);
    if (node == nullptr) {
        delete arena;
        return nullptr;
    }
    arena->owner = node;
    return node;
}

XmlNode* XmlRenewRoot(XmlNode* old, std::uint64_t budget) {
    XmlNode* root = nullptr;
    if (old != nullptr && old->arena != nullptr && old->arena->owner == old) {
        XmlArena* arena = old->arena;
        arena->Recycle(budget);
        root = XmlNewNodeIn(arena, XmlNodeKind::Document, true);
        if (root == nullptr) {
            delete arena;
            return nullptr;
        }
        arena->owner = root;
    } else {
        XmlDestroyTree(old);
        root = XmlNewNode(XmlNodeKind::Document, budget);
        if (root == nullptr)
            return nullptr;
    }
    root->parent = root;
    return root;
}

void XmlTrimTree(XmlNode* root) {
    if (root != nullptr && root->arena != nullptr)
        root->arena->TrimUnused();
}

void XmlDestroyTree(XmlNode* top) {
    if (top == nullptr)
        return;
    XmlArena* arena = top->arena;
    if (arena != nullptr && arena->owner == top) {
        // Everything of the tree lives in the arena.
        delete arena;
        return;
    }
    if (arena == nullptr)
        return;
    // Post-order walk from the last child backwards, bounded by top; no stack depth depends on the tree.
    XmlNode* current = top;
    for (;;) {
        if (current->childCount > 0) {
            XmlNode* child = current->children[current->childCount - 1];
            if (child == nullptr) {
                --current->childCount;
            } else if (child->childCount > 0) {
                current = child;
            } else {
                FreeNodeRecord(arena, child);
                --current->childCount;
            }
            continue;
        }
        if (current == top)
            break;
        current = current->parent;
    }
    FreeNodeRecord(arena, top);
}

void XmlDetachAndDestroyChild(XmlNode* parent, std::uint32_t index) {
    if (parent == nullptr || index >= parent->childCount)
        return;
    XmlNode* child = parent->children[index];
    std::memmove(parent->children + index, parent->children + index + 1,
                 std::size_t{parent->childCount - index - 1} * sizeof(XmlNode*));
    parent->children[--parent->childCount] = nullptr;
    if (child == nullptr)
        return;
    child->parent = child;
    XmlDestroyTree(child);
}

std::uint64_t XmlTreeMemory(const XmlNode* node) {
    return node != nullptr && node->arena != nullptr ? node->arena->BytesReserved() : 0;
}

bool XmlSpanEquals(const char* span, std::uint32_t length, const char* text) {
    if (text == nullptr)
        return false;
    std::size_t textLength = std::strlen(text);
    if (textLength != length)
        return false;
    return length == 0 || (span != nullptr && std::memcmp(span, text, length) == 0);
}

}  // namespace vantrel
