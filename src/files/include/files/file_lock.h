#pragma once

// An advisory lock (flock) on a lock file. Every writer of a file takes the lock file beside it around
// reading and replacing it; another process (or another open of the lock file in this process) waits.
//
// A lock file is trusted only when it is a regular file of this user (OwnedByUs), opened for writing: a
// lock file anyone could read would let any local user block every writer.

#include <sys/types.h>

#include <chrono>
#include <string>

namespace vantrel {

enum class LockStatus {
    Held,     // this lock holds it
    Busy,     // another process (or another lock in this one) holds it
    NotOurs,  // the lock file is another user's, a symbolic link or not a regular file: not used
    Failed,   // it cannot be opened or made (error holds errno)
};

struct LockResult {
    LockStatus status = LockStatus::Failed;
    int error = 0;  // errno for Failed; EWOULDBLOCK for Busy
    // Busy: the process holding it and its user, when the system tells (-1 otherwise).
    pid_t holderPid = -1;
    uid_t holderUid = static_cast<uid_t>(-1);
    // Names the lock file and says why it was not taken ("... is held by process 42 of root (uid 0)",
    // "... belongs to nobody (uid 65534), not to this user"); empty when Held.
    std::string problem;

    bool Held() const { return status == LockStatus::Held; }
    // Busy and the holder is known to run as another user.
    bool HeldByOtherUser() const;
};

class FileLock {
public:
    FileLock() = default;
    ~FileLock() { Release(); }
    FileLock(FileLock&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    FileLock& operator=(FileLock&& other) noexcept;
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // Takes an exclusive lock on path (created with mode 0600 when missing; for root given to the owner of
    // its folder), waiting at most timeout; a timeout of 0 tries once. A lock file of ours that others may
    // read or write is made 0600 first.
    LockResult Acquire(const std::string& path, std::chrono::milliseconds timeout);
    void Release();

    bool Held() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

}  // namespace vantrel
