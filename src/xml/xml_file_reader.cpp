#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "xml/xml_parser.h"

namespace vantrel {

namespace {

// Reads the whole descriptor into a malloc'd buffer; false on a read error or out of memory.
bool ReadAll(int fd, char** data, std::size_t* size) {
    struct stat info {};
    std::size_t capacity = 64 * 1024;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
        capacity = static_cast<std::size_t>(info.st_size) + 1;
    }
    char* buffer = static_cast<char*>(std::malloc(capacity + 1));
    if (buffer == nullptr)
        return false;
    std::size_t used = 0;
    for (;;) {
        if (used == capacity) {
            std::size_t grown = capacity * 2;
            char* bigger = static_cast<char*>(std::realloc(buffer, grown + 1));
            if (bigger == nullptr)
                break;  // keep what was read, like a failed append
            buffer = bigger;
            capacity = grown;
        }
        ssize_t got = ::read(fd, buffer + used, capacity - used);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        used += static_cast<std::size_t>(got);
    }
    *data = buffer;
    *size = used;
    return true;
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
    bool read = ReadAll(fd, &data, &size);
    ::close(fd);
    if (!read)
        return false;
    if (size == 0) {
        std::free(data);
        return false;
    }
    // The text is the file in pieces of chunkSize - 1 bytes, each cut at its first NUL.
    std::size_t piece = chunkSize - 1;
    std::size_t out = 0;
    for (std::size_t in = 0; in < size; in += piece) {
        std::size_t length = size - in < piece ? size - in : piece;
        const void* nul = std::memchr(data + in, '\0', length);
        std::size_t kept =
            nul != nullptr ? static_cast<std::size_t>(static_cast<const char*>(nul) - (data + in)) : length;
        if (out != in && kept > 0)
            std::memmove(data + out, data + in, kept);
        out += kept;
    }
    data[out] = '\0';
    *text = data;
    *count = size;
    return true;
}

}  // namespace vantrel
