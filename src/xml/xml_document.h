#pragma once

// The document object: owns one tree and the text buffer that the tree borrows from.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "xml/xml_file_report.h"
#include "xml/xml_node.h"
#include "xml/xml_parser.h"

namespace vantrel {

class XmlNodeRef;

class XmlDocument {
public:
    XmlDocument() = default;
    virtual ~XmlDocument();
    XmlDocument(const XmlDocument&) = delete;
    XmlDocument& operator=(const XmlDocument&) = delete;

    // Handle to the Document node; empty before anything was loaded.
    XmlNodeRef Root() const;

    // Destroys the tree (whatever ownsTree says) and frees the text; root and text become null.
    void Clear();

    // Clear, read the file (chunk size 4096), parse it into a new Document root. A missing, unreadable or
    // empty file leaves an empty Document root instead. True when the file gave at least one byte.
    bool LoadFile(const char* path);

    // Like LoadFile, but never follows a symbolic link, never blocks on a FIFO or device, refuses files
    // larger than maxBytes, and reports what it found: a file that is not a regular file, too large or not
    // completely readable gives an empty Document root with the status saying why.
    XmlFileReport LoadFileChecked(const char* path, std::uint64_t maxBytes = kMaxXmlFileSize);

    // Like LoadFile, over a copy of the given bytes (the copy is cut at its first NUL).
    // Empty input gives an empty Document root and false.
    bool LoadText(std::string_view text);

    // Makes the document an empty Document root (its own parent), dropping any tree and text.
    void Reset();

    XmlNode* root = nullptr;
    std::int32_t growthStep = 4;
    std::uint8_t ownsTree = 1;  // the destructor destroys the tree only when set
    char* text = nullptr;       // malloc'd, NUL-terminated; the tree borrows from it
    const char* parseStop = nullptr;
    std::uint32_t parseOptions = XmlParseOptions::AllOptions;

private:
    // Parses the current text (may be null) into a fresh root, or leaves an empty root.
    bool ParseText(std::size_t count);
};

// Deepest nesting of elements below top (an element directly below top is at depth 1); iterative.
std::uint32_t XmlElementDepth(const XmlNode* top);

}  // namespace vantrel
