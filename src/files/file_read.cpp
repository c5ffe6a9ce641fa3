#include "files/file_read.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "files/content_hash.h"
#include "files/file_owner.h"

namespace vantrel {

FileContents ReadRegularFile(const std::string& path, std::uint64_t maxBytes, bool followLinks) {
    FileContents contents;
    int flags = O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | (followLinks ? 0 : O_NOFOLLOW);
    int fd = open(path.c_str(), flags);
    if (fd < 0) {
        int error = errno;
        struct stat seen {};
        if (error == ENOENT) {
            contents.status = FileReadStatus::Missing;
        } else if (error == ELOOP || (lstat(path.c_str(), &seen) == 0 && !S_ISREG(seen.st_mode) &&
                                      !(followLinks && S_ISLNK(seen.st_mode)))) {
            contents.status = FileReadStatus::NotRegularFile;
        } else {
            contents.status = FileReadStatus::Unreadable;
            contents.error = error;
        }
        return contents;
    }
    if (fstat(fd, &contents.info) != 0) {
        contents.status = FileReadStatus::Unreadable;
        contents.error = errno;
    } else if (!S_ISREG(contents.info.st_mode)) {
        contents.status = FileReadStatus::NotRegularFile;
    } else if (static_cast<std::uint64_t>(contents.info.st_size) > maxBytes) {
        contents.status = FileReadStatus::TooLarge;
    } else {
        contents.status = FileReadStatus::Read;
        contents.bytes.resize(static_cast<std::size_t>(contents.info.st_size));
        std::size_t used = 0;
        for (;;) {
            if (used == contents.bytes.size()) {
                // the file may have grown since fstat: look for more, up to the limit
                if (used >= maxBytes + 1) {
                    contents.status = FileReadStatus::TooLarge;
                    break;
                }
                contents.bytes.resize(used + 4096);
            }
            ssize_t got = read(fd, &contents.bytes[used], contents.bytes.size() - used);
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got < 0) {
                contents.status = FileReadStatus::Unreadable;
                contents.error = errno;
                break;
            }
            if (got == 0) {
                break;
            }
            used += static_cast<std::size_t>(got);
        }
        contents.bytes.resize(used);
        if (contents.status == FileReadStatus::Read && used > maxBytes) {
            contents.status = FileReadStatus::TooLarge;
        }
    }
    close(fd);
    if (contents.status != FileReadStatus::Read) {
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
