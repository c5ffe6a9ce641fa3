#include "password/key_file.h"

#include <fcntl.h>
#include <sodium.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace vantrel {
namespace {

bool ReadKey(const std::string& keyPath, PasswordKey& key, bool& missing) {
    missing = false;
    int fd = open(keyPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        missing = errno == ENOENT;
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

bool WriteAll(int fd, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        ssize_t done = write(fd, data, size);
        if (done < 0 && errno == EINTR) {
            continue;
        }
        if (done <= 0) {
            return false;
        }
        data += done;
        size -= static_cast<std::size_t>(done);
    }
    return true;
}

std::string FolderOf(const std::string& path) {
    std::string::size_type slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
}

bool CreateKey(const std::string& keyPath) {
    std::string pattern = keyPath + ".XXXXXX";
    std::vector<char> tempPath(pattern.begin(), pattern.end());
    tempPath.push_back('\0');
    int fd = mkstemp(tempPath.data());
    if (fd < 0) {
        return false;
    }
    PasswordKey fresh;
    randombytes_buf(fresh.data(), fresh.size());
    bool ok = fchmod(fd, S_IRUSR | S_IWUSR) == 0 && WriteAll(fd, fresh.data(), fresh.size()) && fsync(fd) == 0;
    sodium_memzero(fresh.data(), fresh.size());
    ok = close(fd) == 0 && ok;
    // link refuses an existing target: a key made meanwhile by someone else wins
    if (ok && link(tempPath.data(), keyPath.c_str()) != 0 && errno != EEXIST) {
        ok = false;
    }
    unlink(tempPath.data());
    if (ok) {
        int dir = open(FolderOf(keyPath).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dir >= 0) {
            fsync(dir);
            close(dir);
        }
    }
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
