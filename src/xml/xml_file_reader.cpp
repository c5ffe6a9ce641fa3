#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "xml/xml_file_report.h"
#include "xml/xml_parser.h"

namespace vantrel {

namespace {

// Reads the whole descriptor into a malloc'd buffer with room for a terminator. Gives 0 or the errno of a
// failed read (ENOMEM when the buffer cannot grow, EFBIG when the file grows past maxBytes while read).
int ReadAll(int fd, std::uint64_t maxBytes, char** data, std::size_t* size) {
    struct stat info {};
    std::size_t capacity = 64 * 1024;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
        capacity = static_cast<std::size_t>(info.st_size) + 1;
    }
    char* buffer = static_cast<char*>(std::malloc(capacity + 1));
    if (buffer == nullptr)
        return ENOMEM;
    std::size_t used = 0;
    int error = 0;
    for (;;) {
        if (used == capacity) {
            std::size_t grown = capacity * 2;
            char* bigger = static_cast<char*>(std::realloc(buffer, grown + 1));
            if (bigger == nullptr) {
                error = ENOMEM;
                break;
            }
            buffer = bigger;
            capacity = grown;
        }
        ssize_t got = ::read(fd, buffer + used, capacity - used);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            error = errno;
            break;
        }
        if (got == 0)
            break;
        used += static_cast<std::size_t>(got);
        if (used > maxBytes) {
            error = EFBIG;
            break;
        }
    }
    *data = buffer;
    *size = used;
    return error;
}

// The text is the file in pieces of chunkSize - 1 bytes, each cut at its first NUL. Gives the offset of the
// first NUL in the file, or size when there is none.
std::size_t CutChunksAtNul(char* data, std::size_t size, std::size_t chunkSize) {
    std::size_t piece = chunkSize - 1;
    std::size_t out = 0;
    std::size_t firstNul = size;
    for (std::size_t in = 0; in < size; in += piece) {
        std::size_t length = size - in < piece ? size - in : piece;
        const void* nul = std::memchr(data + in, '\0', length);
        std::size_t kept =
            nul != nullptr ? static_cast<std::size_t>(static_cast<const char*>(nul) - (data + in)) : length;
        if (nul != nullptr && firstNul == size)
            firstNul = in + kept;
        if (out != in && kept > 0)
            std::memmove(data + out, data + in, kept);
        out += kept;
    }
    data[out] = '\0';
    return firstNul;
}

}  // namespace

bool XmlReadFile(const char* path, char** text, std::size_t* count, std::size_t chunkSize) {
    if (path == nullptr || text == nullptr || count == nullptr)
        return false;
    *count = 0;
    *text = nullptr;
    if (chunkSize < 2)
        return false;
    int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    char* data = nullptr;
    std::size_t size = 0;
    int error = ReadAll(fd, UINT64_MAX, &data, &size);
    ::close(fd);
    if (error == ENOMEM && data == nullptr)
        return false;
    if (size == 0) {
        std::free(data);
        return false;
    }
    CutChunksAtNul(data, size, chunkSize);
    *text = data;
    *count = size;
    return true;
}

void XmlReadFileChecked(const char* path, std::uint64_t maxBytes, char** text, std::size_t* count,
                        std::size_t chunkSize, XmlFileReport& report) {
    report = XmlFileReport{};
    *text = nullptr;
    *count = 0;
    if (path == nullptr || chunkSize < 2) {
        report.status = XmlFileStatus::Unreadable;
        report.error = EINVAL;
        return;
    }
    // O_NONBLOCK: a FIFO in the file's place must not hang the program; O_NOFOLLOW: a link is refused.
    int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        int error = errno;
        struct stat seen {};
        if (error == ENOENT) {
            report.status = XmlFileStatus::Missing;
        } else if (error == ELOOP || (::lstat(path, &seen) == 0 && !S_ISREG(seen.st_mode))) {
            report.status = XmlFileStatus::NotRegularFile;
        } else {
            report.status = XmlFileStatus::Unreadable;
            report.error = error;
        }
        return;
    }
    if (::fstat(fd, &report.info) != 0) {
        report.status = XmlFileStatus::Unreadable;
        report.error = errno;
        ::close(fd);
        return;
    }
    if (!S_ISREG(report.info.st_mode)) {
        report.status = XmlFileStatus::NotRegularFile;
        ::close(fd);
        return;
    }
    report.size = static_cast<std::uint64_t>(report.info.st_size);
    if (report.size > maxBytes) {
        report.status = XmlFileStatus::TooLarge;
        ::close(fd);
        return;
    }
    char* data = nullptr;
    std::size_t size = 0;
    int error = ReadAll(fd, maxBytes, &data, &size);
    ::close(fd);
    if (error == EFBIG) {
        std::free(data);
        report.status = XmlFileStatus::TooLarge;
        report.size = size;
        return;
    }
    if (error != 0) {
        std::free(data);
        report.status = XmlFileStatus::Unreadable;
        report.error = error;
        return;
    }
    report.status = XmlFileStatus::Read;
    report.size = size;
    if (size == 0) {
        std::free(data);
        return;
    }
    std::size_t firstNul = CutChunksAtNul(data, size, chunkSize);
    if (firstNul != size) {
        report.damaged = true;
        report.problemOffset = firstNul;
        report.problem = "NUL byte";
    }
    *text = data;
    *count = size;
}

std::string DescribeXmlFileStatus(const XmlFileReport& report) {
    switch (report.status) {
        case XmlFileStatus::Missing:
            return "missing";
        case XmlFileStatus::Read:
            return "read";
        case XmlFileStatus::Unreadable:
            return std::string("cannot be read: ") + std::strerror(report.error);
        case XmlFileStatus::NotRegularFile:
            return "is not a regular file";
        case XmlFileStatus::TooLarge:
            return "is too large";
    }
    return std::string();
}

}  // namespace vantrel
