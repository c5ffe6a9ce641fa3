#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "xml/xml_arena.h"
#include "xml/xml_file_reader.h"
#include "xml/xml_file_report.h"

namespace vantrel {

namespace {

// From this size on the text goes into a mapped block, faulted in huge pages where the system offers them.
constexpr std::size_t kMapThreshold = 1024 * 1024;

// Reads the whole descriptor into text. Gives 0 or the errno of a failed read (ENOMEM when the buffer cannot
// grow, EFBIG when the file grows past maxBytes while read).
int ReadAll(int fd, std::uint64_t maxBytes, XmlTextBuffer& text) {
    struct stat info {};
    std::size_t capacity = 64 * 1024;
    // one byte more than the size, so that the read that finds the end needs no growth
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0)
        capacity = static_cast<std::size_t>(info.st_size) + 1;
    if (!text.Reserve(capacity))
        return ENOMEM;
    for (;;) {
        if (text.size == text.capacity && !text.Reserve(text.capacity * 2))
            return ENOMEM;
        ssize_t got = ::read(fd, text.data + text.size, text.capacity - text.size);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return errno;
        if (got == 0)
            break;
        text.size += static_cast<std::size_t>(got);
        if (text.size > maxBytes)
            return EFBIG;
    }
    text.data[text.size] = '\0';
    return 0;
}

}  // namespace

bool XmlTextBuffer::Reserve(std::size_t wanted) {
    if (wanted <= capacity && data != nullptr)
        return true;
    if (wanted >= SIZE_MAX / 2)
        return false;
    char* grown = nullptr;
    std::size_t grownMapped = 0;
    if (wanted + 1 >= kMapThreshold) {
        // a file's text fills its block: the last, partly used huge page would be paid for in full
        grown = static_cast<char*>(XmlMapBlock(wanted + 1, &grownMapped, wanted));
    } else {
        grown = static_cast<char*>(std::malloc(wanted + 1));
    }
    if (grown == nullptr)
        return false;
    if (size > 0)
        std::memcpy(grown, data, size);
    grown[size] = '\0';
    Free();
    data = grown;
    mapped = grownMapped;
    capacity = grownMapped > 0 ? grownMapped - 1 : wanted;
    return true;
}

void XmlFreeTextBlock(char* data, std::size_t mapped) {
    if (mapped > 0) {
        XmlUnmapBlock(data, mapped);
    } else {
        std::free(data);
    }
}

void XmlTextBuffer::Free() {
    XmlFreeTextBlock(data, mapped);
    data = nullptr;
    capacity = 0;
    mapped = 0;
}

std::size_t XmlCutPiecesAtNul(char* data, std::size_t size) {
    std::size_t out = 0;
    for (std::size_t in = 0; in < size; in += kXmlReadPiece) {
        std::size_t length = size - in < kXmlReadPiece ? size - in : kXmlReadPiece;
        const void* nul = std::memchr(data + in, '\0', length);
        std::size_t kept =
            nul != nullptr ? static_cast<std::size_t>(static_cast<const char*>(nul) - (data + in)) : length;
        if (out != in && kept > 0)
            std::memmove(data + out, data + in, kept);
        out += kept;
    }
    data[out] = '\0';
    return out;
}

bool XmlReadFile(const char* path, XmlTextBuffer& text) {
    text.Free();
    text.size = 0;
    if (path == nullptr)
        return false;
    int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    // a read that fails part-way keeps what came before it, as a plain reader would
    ReadAll(fd, UINT64_MAX, text);
    ::close(fd);
    if (text.data != nullptr)
        text.data[text.size] = '\0';
    if (text.size == 0) {
        text.Free();
        return false;
    }
    return true;
}

void XmlReadFileChecked(const char* path, std::uint64_t maxBytes, XmlTextBuffer& text, XmlFileReport& report) {
    report = XmlFileReport{};
    text.Free();
    text.size = 0;
    if (path == nullptr) {
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
    int error = ReadAll(fd, maxBytes, text);
    ::close(fd);
    if (error == EFBIG) {
        report.status = XmlFileStatus::TooLarge;
        report.size = text.size;
        text.Free();
        text.size = 0;
        return;
    }
    if (error != 0) {
        report.status = XmlFileStatus::Unreadable;
        report.error = error;
        text.Free();
        text.size = 0;
        return;
    }
    report.status = XmlFileStatus::Read;
    report.size = text.size;
    if (text.size == 0)
        text.Free();
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
