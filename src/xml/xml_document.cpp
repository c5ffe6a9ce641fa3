#include "xml/xml_document.h"

#include <cstdlib>
#include <cstring>

#include "xml/xml_node_ref.h"

namespace vantrel {

namespace {

constexpr std::size_t kReadChunkSize = 4096;

}  // namespace

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
