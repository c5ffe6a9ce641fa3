#pragma once

// Reading a whole small file without following it into a FIFO, a device or a file that never ends.

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace vantrel {

enum class FileReadStatus {
    Missing,         // nothing at the path
    Read,            // read to its end
    Unreadable,      // could not be opened or read; error holds errno
    NotRegularFile,  // a folder, FIFO, device or socket (or a symbolic link, when links are not followed)
    TooLarge,        // more than the limit; not kept
    OutOfMemory,     // the bytes (or what is built from them) do not fit in this machine's memory
};

// "missing", "read", "cannot be read: Permission denied", "is not a regular file", "is too large",
// "is too large for this machine's memory".
std::string DescribeFileReadStatus(FileReadStatus status, int error);

// Where ReadRegularFileInto puts the bytes: a buffer its owner keeps (the XML library parses in place).
class ReadBuffer {
public:
    virtual ~ReadBuffer() = default;
    // Room for at least capacity bytes with the first used ones kept; null when out of memory.
    virtual char* Grow(std::size_t capacity, std::size_t used) = 0;
};

struct FileReadResult {
    FileReadStatus status = FileReadStatus::Missing;
    int error = 0;           // errno for Unreadable
    std::uint64_t size = 0;  // bytes in the buffer when Read; else the size seen, if any
    struct stat info {};     // fstat of the opened file; zero when it was not opened
};

struct FileContents {
    FileReadStatus status = FileReadStatus::Missing;
    int error = 0;
    std::string bytes;    // the whole file when Read
    struct stat info {};  // fstat of the opened file; zero when it was not opened
};

// Opens with O_NONBLOCK (and O_NOFOLLOW unless followLinks), reads only a regular file and at most maxBytes.
// The buffer is asked once for the size fstat gives plus one byte, so a file that does not grow meanwhile is
// read without copying. What the buffer holds when the status is not Read is not part of the file.
FileReadResult ReadRegularFileInto(const std::string& path, std::uint64_t maxBytes, bool followLinks,
                                   ReadBuffer& buffer);

// The same into a string (empty unless Read).
FileContents ReadRegularFile(const std::string& path, std::uint64_t maxBytes, bool followLinks);

// The ContentHash of the regular file at path (links not followed), read in pieces. False when it cannot be
// read, or when expected is given and the opened file is not that one (device, inode, size, change times).
bool HashRegularFile(const std::string& path, const struct stat* expected, std::uint64_t* hash);

// Writes all bytes, retrying after EINTR; false with errno set (EIO for a write that took nothing) when a
// write fails.
bool WriteAll(int fd, const void* data, std::size_t size);

}  // namespace vantrel
