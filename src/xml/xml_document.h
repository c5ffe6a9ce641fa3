#pragma once

// The document object: owns one tree and the text buffer that the tree borrows from.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "xml/xml_file_report.h"
#include "xml/xml_node_kind.h"
#include "xml/xml_node_ref.h"

namespace vantrel {

struct XmlNode;

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

    // Clear, read the file, parse it into a new Document root. A missing, unreadable or empty file leaves an
    // empty Document root instead. True when the file gave at least one byte. A NUL byte cuts the rest of its
    // 4095-byte piece of the file from the text.
    bool LoadFile(const char* path);

    // Like LoadFile, but never follows a symbolic link, never blocks on a FIFO or device, refuses files
    // larger than maxBytes, and reports what it found: a file that is not a regular file, too large or not
    // completely readable gives an empty Document root with the status saying why. For a file that was read,
    // damaged, problem and problemOffset tell whether its text was one complete document (see XmlDamage),
    // and depth how deep its elements nest.
    XmlFileReport LoadFileChecked(const char* path, std::uint64_t maxBytes = kMaxXmlFileSize);

    // Like LoadFile, over a copy of the given bytes (the copy is cut at its first NUL).
    // Empty input gives an empty Document root and false.
    bool LoadText(std::string_view text);

    // Like LoadFileChecked for a file holding exactly these bytes (status Read, NUL bytes as in a file).
    XmlFileReport LoadTextChecked(std::string_view bytes);

    // The text the tree was parsed from, as read: the file's bytes unless it held a NUL byte (then the rest of
    // that byte's 4,095-byte piece is cut, as the parser saw it). Empty when nothing was read.
    std::string_view Text() const;

    // Bytes the tree holds from the system (records, arrays, owned copies; not the text).
    std::uint64_t TreeBytes() const;

private:
    // Parses the text (textLength bytes, NUL-terminated) into a fresh root, or leaves an empty root when
    // there is no text; fills the damage and depth of report.
    bool ParseText(std::size_t textLength, XmlFileReport* report);
    void FreeText();

    XmlNode* root_ = nullptr;
    std::uint32_t parseOptions_ = XmlParseOptions::AllOptions;
    char* text_ = nullptr;  // NUL-terminated; the tree borrows from it
    std::size_t textMapped_ = 0;
    std::size_t textLength_ = 0;  // bytes of text_ the tree was parsed from  // non-zero: text_ is a mapped block of
                                  // this size, else from malloc
};

}  // namespace vantrel
