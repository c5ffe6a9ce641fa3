#pragma once

// Reading a whole small file without following it into a FIFO, a device or a file that never ends.

#include <sys/stat.h>

#include <cstdint>
#include <string>

namespace vantrel {

enum class FileReadStatus {
    Missing,         // nothing at the path
    Read,            // read to its end
    Unreadable,      // could not be opened or read; error holds errno
    NotRegularFile,  // a folder, FIFO, device or socket (or a symbolic link, when links are not followed)
    TooLarge,        // more than the limit; not kept
};

struct FileContents {
    FileReadStatus status = FileReadStatus::Missing;
    int error = 0;
    std::string bytes;    // the whole file when Read
    struct stat info {};  // fstat of the opened file; zero when it was not opened
};

// Opens with O_NONBLOCK (and O_NOFOLLOW unless followLinks), reads only a regular file and at most maxBytes.
FileContents ReadRegularFile(const std::string& path, std::uint64_t maxBytes, bool followLinks);

// The ContentHash of the regular file at path (links not followed), read in pieces. False when it cannot be
// read, or when expected is given and the opened file is not that one (device, inode, size, change times).
bool HashRegularFile(const std::string& path, const struct stat* expected, std::uint64_t* hash);

// Writes all bytes, retrying after EINTR; false with errno set (EIO for a write that took nothing) when a
// write fails.
bool WriteAll(int fd, const void* data, std::size_t size);

}  // namespace vantrel
