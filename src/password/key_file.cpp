#include "password/key_file.h"

#include <fcntl.h>
#include <sodium.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "files/atomic_file.h"
#include "files/file_read.h"

namespace vantrel {
namespace {

bool ReadKey(const std::string& keyPath, PasswordKey& key, bool& missing) {
    missing = false;
    // a FIFO or device in the key's place must not hang the program
    int fd = open(keyPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        missing = errno == ENOENT;
        return false;
    }
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        return false;
    }
    // one byte more than a key, so that a longer file is noticed
    std::uint8_t buffer[33];
    std::size_t total = 0;
    while (total < sizeof buffer) {
        ssize_t got = read(fd, buffer + total, sizeof buffer - total);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        total += static_cast<std::size_t>(got);
    }
    close(fd);
    if (total != key.size()) {
        sodium_memzero(buffer, sizeof buffer);
        return false;
    }
    std::copy(buffer, buffer + key.size(), key.begin());
    sodium_memzero(buffer, sizeof buffer);
    return true;
}

bool CreateKey(const std::string& keyPath) {
    PasswordKey fresh;
    randombytes_buf(fresh.data(), fresh.size());
    // linked into place: a key made meanwhile by someone else wins
    bool ok = WriteFileAtomically(
        keyPath, Placement::KeepExisting, [&fresh](int fd) { return WriteAll(fd, fresh.data(), fresh.size()); },
        nullptr);
    sodium_memzero(fresh.data(), fresh.size());
    return ok;
}

}  // namespace

bool LoadOrCreateKey(const std::string& keyPath, bool create, PasswordKey& key) {
    if (keyPath.empty()) {
        return false;
    }
    bool missing = false;
    if (ReadKey(keyPath, key, missing)) {
        return true;
    }
    if (!missing || !create || !CreateKey(keyPath)) {
        return false;
    }
    return ReadKey(keyPath, key, missing);
}

}  // namespace vantrel
