#include "xml/xml_document.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include "xml/xml_node_ref.h"
#include "xml/xml_walk_stack.h"

namespace vantrel {

namespace {

constexpr std::size_t kReadChunkSize = 4096;

}  // namespace

std::uint32_t XmlElementDepth(const XmlNode* top) {
    if (top == nullptr)
        return 0;
    std::uint32_t deepest = 0;
    XmlWalkStack stack;
    stack.Push(top);
    // elements open on the stack, counted as the walk goes down and up
    std::uint32_t open = 0;
    std::vector<std::uint8_t> isElement{0};
    while (!stack.Empty()) {
        XmlWalkStack::Frame& frame = stack.Top();
        if (frame.next >= frame.node->childCount) {
            open -= isElement.back();
            isElement.pop_back();
            stack.Pop();
            continue;
        }
        const XmlNode* child = frame.node->children[frame.next++];
        if (child == nullptr)
            continue;
        std::uint8_t element = child->kind == XmlNodeKind::Element ? 1 : 0;
        if (open + element > deepest)
            deepest = open + element;
        if (child->childCount > 0) {
            stack.Push(child);
            isElement.push_back(element);
            open += element;
        }
    }
    return deepest;
}

XmlDocument::~XmlDocument() {
    if (ownsTree)
        XmlDestroyTree(root);
    root = nullptr;
    std::free(text);
    text = nullptr;
}

XmlNodeRef XmlDocument::Root() const {
    return XmlNodeRef(root);
}

void XmlDocument::Clear() {
    XmlDestroyTree(root);
    root = nullptr;
    std::free(text);
    text = nullptr;
    parseStop = nullptr;
}

void XmlDocument::Reset() {
    Clear();
    root = XmlNewNode(XmlNodeKind::Document);
    if (root != nullptr)
        root->parent = root;
}

bool XmlDocument::ParseText(std::size_t count) {
    if (text != nullptr && count > 0) {
        root = XmlNewNode(XmlNodeKind::Document);
        if (root != nullptr) {
            root->parent = root;
            parseStop = XmlParse(text, root, growthStep, parseOptions);
        }
    }
    if (root == nullptr || root->kind == XmlNodeKind::None) {
        Reset();
        return false;
    }
    return true;
}

bool XmlDocument::LoadFile(const char* path) {
    Clear();
    std::size_t count = 0;
    if (!XmlReadFile(path, &text, &count, kReadChunkSize))
        count = 0;
    return ParseText(count);
}

XmlFileReport XmlDocument::LoadFileChecked(const char* path, std::uint64_t maxBytes) {
    Clear();
    XmlFileReport report;
    std::size_t count = 0;
    XmlReadFileChecked(path, maxBytes, &text, &count, kReadChunkSize, report);
    ParseText(count);
    if (report.status == XmlFileStatus::Read && text != nullptr) {
        report.depth = XmlElementDepth(root);
    }
    return report;
}

bool XmlDocument::LoadText(std::string_view bytes) {
    Clear();
    std::size_t length = bytes.size();
    if (const void* nul = std::memchr(bytes.data(), '\0', length)) {
        length = static_cast<std::size_t>(static_cast<const char*>(nul) - bytes.data());
    }
    if (length > 0) {
        text = static_cast<char*>(std::malloc(length + 1));
        if (text != nullptr) {
            std::memcpy(text, bytes.data(), length);
            text[length] = '\0';
        }
    }
    return ParseText(text != nullptr ? length : 0);
}

}  // namespace vantrel
