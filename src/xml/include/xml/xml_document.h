#pragma once

// The document object: owns one tree and the text buffer that the tree borrows from.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "xml/xml_load_result.h"
#include "xml/xml_node_kind.h"
#include "xml/xml_node_ref.h"

namespace vantrel {

struct XmlNode;
struct XmlParseResult;
struct XmlTextBuffer;

class XmlDocument {
public:
    XmlDocument() = default;
    virtual ~XmlDocument();
    XmlDocument(const XmlDocument&) = delete;
    XmlDocument& operator=(const XmlDocument&) = delete;

    // Handle to the Document node; empty before anything was loaded and after Clear.
    XmlNodeRef Root() const;

    // What the next load keeps (XmlParseOptions bits); AllOptions unless set.
    void SetParseOptions(std::uint32_t options) { parseOptions_ = options; }
    std::uint32_t ParseOptions() const { return parseOptions_; }

    // Destroys the tree and frees the text; Root() is empty afterwards.
    void Clear();

    // Makes the document an empty Document root (its own parent), dropping any tree and text.
    void Reset();

    // Drops what the document held and reads the file at path into a new tree. Never follows a symbolic link,
    // never blocks on a FIFO or device, refuses files larger than maxBytes. Whatever is not Read (missing,
    // not a regular file, unreadable, too large, or too large for the memory: the tree's budget, see
    // XmlTreeBudget, or the machine's) leaves an empty Document root. For a file that was read, damaged,
    // problem and problemOffset tell whether its text was one complete document, and depth how deep its
    // elements nest. A NUL byte cuts the rest of its 4095-byte piece of the file from the text. Never throws.
    XmlLoadResult LoadFile(const char* path, std::uint64_t maxBytes = kMaxXmlFileSize);

    // Like LoadFile for a file holding exactly these bytes (status Read unless out of memory).
    XmlLoadResult LoadText(std::string_view bytes);

    // The text the tree was parsed from, as read: the file's bytes unless it held a NUL byte (then the rest of
    // that byte's 4,095-byte piece is cut, as the parser saw it). Empty when nothing was read.
    std::string_view Text() const;

    // Bytes the tree holds from the system (records, arrays, owned copies; not the text).
    std::uint64_t TreeBytes() const;

private:
    // Takes the text over and parses it into a fresh root (an empty root when there is no text); fills in
    // the damage and depth of result, or the status OutOfMemory.
    void ParseText(XmlTextBuffer& text, XmlLoadResult& result);
    void JudgeText(const XmlParseResult& parsed, std::size_t nulAt, XmlLoadResult& result) const;
    void FreeText();
    // Hands the text block to text for a new load (the tree must not be read until it is renewed).
    void AdoptTextBlock(XmlTextBuffer& text);

    XmlNode* root_ = nullptr;
    std::uint32_t parseOptions_ = XmlParseOptions::AllOptions;
    char* text_ = nullptr;          // NUL-terminated; the tree borrows from it
    std::size_t textMapped_ = 0;    // non-zero: text_ is a mapped block of this size, else from malloc
    std::size_t textCapacity_ = 0;  // bytes of text that fit in the block
    std::size_t textLength_ = 0;    // bytes of text_ the tree was parsed from
};

}  // namespace vantrel
