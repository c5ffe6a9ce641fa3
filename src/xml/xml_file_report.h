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

struct XmlFileReport {
    XmlFileStatus status = XmlFileStatus::Missing;
    int error = 0;                    // errno for Unreadable, 0 otherwise
    std::uint64_t size = 0;           // bytes read (Read), else the size seen, if any
    struct stat info {};              // fstat of the opened file: zero unless it was opened
    bool damaged = false;             // Read, but the text is not one complete document (see problem)
    std::uint64_t problemOffset = 0;  // byte offset in the file of the first problem
    std::string problem;              // the first problem in words, e.g. "NUL byte"; empty when not damaged
    std::uint32_t depth = 0;          // deepest element nesting: DATAROOT alone is 1

    // Read completely and parsed as one complete document.
    bool Clean() const { return status == XmlFileStatus::Read && !damaged; }
};

// "missing", "read", "cannot be read: Permission denied", "is not a regular file", "is too large".
std::string DescribeXmlFileStatus(const XmlFileReport& report);

}  // namespace vantrel
