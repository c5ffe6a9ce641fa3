#pragma once

// What reading a file into a document found: whether the file was there and read completely, and whether
// its text was a complete document. The database uses it to refuse saving over a file it could not read.

#include <sys/stat.h>

#include <cstdint>
#include <string>

namespace vantrel {

// Files above this size are refused unread: a real database is a few megabytes, and a device or /dev/zero
// in the file's place must not eat the memory.
inline constexpr std::uint64_t kMaxXmlFileSize = std::uint64_t{1} << 30;

enum class XmlFileStatus {
    Missing,         // nothing at the path
    Read,            // opened and read to its end
    Unreadable,      // could not be opened or read completely; error holds errno
    NotRegularFile,  // a symbolic link, folder, FIFO, device or socket: not opened for reading
    TooLarge,        // larger than the limit given; not read
};

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

struct XmlFileReport {
    XmlFileStatus status = XmlFileStatus::Missing;
    int error = 0;                       // errno for Unreadable, 0 otherwise
    std::uint64_t size = 0;              // bytes read (Read), else the size seen, if any
    struct stat info {};                 // fstat of the opened file: zero unless it was opened
    bool damaged = false;                // Read, but the text is not one complete document (see problem)
    XmlDamage damage = XmlDamage::None;  // the kind of the first problem
    std::uint64_t problemOffset = 0;     // byte offset in the file of the first problem
    std::string problem;                 // the first problem in words, e.g. "NUL byte"; empty when not damaged
    std::uint32_t depth = 0;             // deepest element nesting: DATAROOT alone is 1

    // Read completely and parsed as one complete document.
    bool Clean() const { return status == XmlFileStatus::Read && !damaged; }
};

// "missing", "read", "cannot be read: Permission denied", "is not a regular file", "is too large".
std::string DescribeXmlFileStatus(const XmlFileReport& report);

}  // namespace vantrel
