#pragma once

// What loading a document found: whether the file was there and read completely, whether the tree fitted in
// memory, and whether its text was one complete document. The database uses it to refuse saving over a file
// it could not read, and to keep a copy of a damaged one.

#include <sys/stat.h>

#include <cstdint>
#include <string>

#include "files/file_read.h"

namespace vantrel {

// Files above this size are refused unread: a real database is a few megabytes, and a device or /dev/zero
// in the file's place must not eat the memory.
inline constexpr std::uint64_t kMaxXmlFileSize = std::uint64_t{1} << 30;

// The memory a parsed tree may take: kXmlTreeBaseBytes plus kXmlTreeBytesPerTextByte for every byte of text,
// never more than kXmlTreeMaxBytes. A device database needs under 3 bytes of tree per byte of text; a file
// made of nothing but tiny elements needs over 20, and is refused as too large for this machine
// (FileReadStatus::OutOfMemory) before it can take the machine's memory.
inline constexpr std::uint64_t kXmlTreeBaseBytes = std::uint64_t{64} << 20;
inline constexpr std::uint64_t kXmlTreeBytesPerTextByte = 8;
inline constexpr std::uint64_t kXmlTreeMaxBytes = std::uint64_t{4} << 30;

// The budget of a tree parsed from textBytes bytes.
constexpr std::uint64_t XmlTreeBudget(std::uint64_t textBytes) {
    std::uint64_t budget = kXmlTreeBaseBytes + kXmlTreeBytesPerTextByte * textBytes;
    return budget < kXmlTreeMaxBytes ? budget : kXmlTreeMaxBytes;
}

// What made a text that was read not one complete document: something the tolerant parser skipped,
// repaired or could not keep, so that saving the tree would not give back what the file holds.
enum class XmlDamage {
    None,
    NulByte,           // a NUL byte cuts the rest of its 4095-byte piece from the text
    Utf16,             // a UTF-16 byte-order mark: the file is not in the 8-bit encoding the parser reads
    UnclosedElement,   // the text ends while an element is still open (a cut-off tail)
    MismatchedEndTag,  // a closing tag that names another element than the one it closes
    StrayEndTag,       // a closing tag with no element open
    BrokenAttribute,   // a value running into "<" (a missing quote), a value without quotes, no space before
    CutOff,            // the text ends inside a tag, comment, section, value or declaration
    BadMarkup,         // markup the parser skipped or could only read in part
    StrayText,         // text (or CDATA) outside the root element, or text the parser drops
    AfterRoot,         // text or a second element after the root element
    NoRoot,            // no root element although the text is not blank
    NotRead,           // the parse stopped after the internal subset (StopAfterInternalSubset) with more to come
};

// The result of one load. Unless the status is Read the document is left empty (a Document root only).
struct XmlLoadResult {
    FileReadStatus status = FileReadStatus::Missing;
    int error = 0;                       // errno for Unreadable, 0 otherwise
    std::uint64_t size = 0;              // bytes read (Read), else the size seen, if any
    struct stat info {};                 // fstat of the opened file: zero unless it was opened
    bool damaged = false;                // Read, but the text is not one complete document (see problem)
    XmlDamage damage = XmlDamage::None;  // the kind of the first problem
    std::uint64_t problemOffset = 0;     // byte offset in the file of the first problem
    std::string problem;                 // the first problem in words, e.g. "NUL byte"; empty when not damaged
    std::uint32_t depth = 0;             // deepest element nesting: DATAROOT alone is 1

    // Read completely and parsed as one complete document.
    bool Clean() const { return status == FileReadStatus::Read && !damaged; }
    // "", "is too large for this machine's memory", "is damaged (NUL byte at byte 12)", ...
    std::string Description() const;
};

}  // namespace vantrel
