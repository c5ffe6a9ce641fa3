#pragma once

// An advisory lock (flock) on a lock file. Every writer of a file takes the lock file beside it around
// reading and replacing it; another process (or another open of the lock file in this process) waits.

#include <chrono>
#include <string>

namespace vantrel {

class FileLock {
public:
    FileLock() = default;
    ~FileLock() { Release(); }
    FileLock(FileLock&& other) noexcept : fd_(other.fd_), error_(other.error_) { other.fd_ = -1; }
    FileLock& operator=(FileLock&& other) noexcept;
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // Takes an exclusive lock on path (created, mode 0644, when missing), waiting at most timeout; a timeout of 0
    // tries once. False, with Error() set (EWOULDBLOCK: someone else holds it), when it cannot be taken.
    bool Acquire(const std::string& path, std::chrono::milliseconds timeout);
    void Release();

    bool Held() const { return fd_ >= 0; }
    int Error() const { return error_; }

private:
    int fd_ = -1;
    int error_ = 0;
};

}  // namespace vantrel
