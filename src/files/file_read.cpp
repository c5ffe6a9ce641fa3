#include "files/file_read.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>
#include <stdexcept>
#include <vector>

#include "files/content_hash.h"
#include "files/file_owner.h"

namespace vantrel {

namespace {

// Reads fd to its end into buffer; the status is Read, TooLarge, Unreadable or OutOfMemory.
FileReadResult ReadToEnd(int fd, std::uint64_t maxBytes, ReadBuffer& buffer, FileReadResult result) {
    // one byte more than the size, so that the read that finds the end needs no growth
    std::uint64_t expected = static_cast<std::uint64_t>(result.info.st_size) + 1;
    std::size_t capacity = static_cast<std::size_t>(expected < 4096 ? 4096 : expected);
    char* data = buffer.Grow(capacity, 0);
    std::size_t used = 0;
    result.status = FileReadStatus::Read;
    while (data != nullptr) {
        if (used == capacity) {
            // the file grew since fstat: look for more, up to the limit
            if (used > maxBytes)
                break;
            capacity = capacity * 2;
            data = buffer.Grow(capacity, used);
            continue;
        }
        ssize_t got = read(fd, data + used, capacity - used);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            result.status = FileReadStatus::Unreadable;
            result.error = errno;
            return result;
        }
        if (got == 0)
            break;
        used += static_cast<std::size_t>(got);
        if (used > maxBytes)
            break;
    }
    result.size = used;
    if (data == nullptr) {
        result.status = FileReadStatus::OutOfMemory;
    } else if (used > maxBytes) {
        result.status = FileReadStatus::TooLarge;
    }
    return result;
}

// Gives the bytes to a string, which throws when it cannot grow.
class StringBuffer : public ReadBuffer {
public:
    explicit StringBuffer(std::string& bytes) : bytes_(bytes) {}
    char* Grow(std::size_t capacity, std::size_t) override {
        try {
            bytes_.resize(capacity);
        } catch (const std::bad_alloc&) {
            return nullptr;
        } catch (const std::length_error&) {
            return nullptr;
        }
        return &bytes_[0];
    }

private:
    std::string& bytes_;
};

}  // namespace

std::string DescribeFileReadStatus(FileReadStatus status, int error) {
    switch (status) {
        case FileReadStatus::Missing:
            return "missing";
        case FileReadStatus::Read:
            return "read";
        case FileReadStatus::Unreadable:
            return std::string("cannot be read: ") + std::strerror(error);
        case FileReadStatus::NotRegularFile:
            return "is not a regular file";
        case FileReadStatus::TooLarge:
            return "is too large";
        case FileReadStatus::OutOfMemory:
            return "is too large for this machine's memory";
    }
    return std::string();
}

FileReadResult ReadRegularFileInto(const std::string& path, std::uint64_t maxBytes, bool followLinks,
                                   ReadBuffer& buffer) {
    FileReadResult result;
    int flags = O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | (followLinks ? 0 : O_NOFOLLOW);
    int fd = open(path.c_str(), flags);
    if (fd < 0) {
        int error = errno;
        struct stat seen {};
        if (error == ENOENT) {
            result.status = FileReadStatus::Missing;
        } else if (error == ELOOP || (lstat(path.c_str(), &seen) == 0 && !S_ISREG(seen.st_mode) &&
                                      !(followLinks && S_ISLNK(seen.st_mode)))) {
            result.status = FileReadStatus::NotRegularFile;
        } else {
            result.status = FileReadStatus::Unreadable;
            result.error = error;
        }
        return result;
    }
    if (fstat(fd, &result.info) != 0) {
        result.status = FileReadStatus::Unreadable;
        result.error = errno;
    } else if (!S_ISREG(result.info.st_mode)) {
        result.status = FileReadStatus::NotRegularFile;
    } else if (static_cast<std::uint64_t>(result.info.st_size) > maxBytes) {
        result.status = FileReadStatus::TooLarge;
        result.size = static_cast<std::uint64_t>(result.info.st_size);
    } else {
        result = ReadToEnd(fd, maxBytes, buffer, result);
    }
    close(fd);
    return result;
}

FileContents ReadRegularFile(const std::string& path, std::uint64_t maxBytes, bool followLinks) {
    FileContents contents;
    StringBuffer buffer(contents.bytes);
    FileReadResult result = ReadRegularFileInto(path, maxBytes, followLinks, buffer);
    contents.status = result.status;
    contents.error = result.error;
    contents.info = result.info;
    if (result.status == FileReadStatus::Read) {
        contents.bytes.resize(static_cast<std::size_t>(result.size));
    } else {
        contents.bytes.clear();
        contents.bytes.shrink_to_fit();
    }
    return contents;
}

bool HashRegularFile(const std::string& path, const struct stat* expected, std::uint64_t* hash) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW);
    if (fd < 0) {
        return false;
    }
    struct stat info {};
    bool ok = fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    if (ok && expected != nullptr) {
        ok = SameFileState(info, *expected);
    }
    ContentHash content;
    std::vector<char> buffer(ok ? 1 << 20 : 0);
    while (ok) {
        ssize_t got = read(fd, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            ok = false;
        } else if (got == 0) {
            break;
        } else {
            content.Add(buffer.data(), static_cast<std::size_t>(got));
        }
    }
    close(fd);
    if (ok) {
        *hash = content.Value();
    }
    return ok;
}

bool WriteAll(int fd, const void* data, std::size_t size) {
    const auto* p = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t done = write(fd, p, size);
        if (done < 0 && errno == EINTR) {
            continue;
        }
        if (done < 0) {
            return false;
        }
        if (done == 0) {
            errno = EIO;
            return false;
        }
        p += done;
        size -= static_cast<std::size_t>(done);
    }
    return true;
}

}  // namespace vantrel
