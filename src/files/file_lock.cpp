#include "files/file_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "files/file_owner.h"
#include "files/file_paths.h"

namespace vantrel {
namespace {

constexpr mode_t kLockFileMode = S_IRUSR | S_IWUSR;

LockResult Refused(LockStatus status, int error, std::string problem) {
    LockResult result;
    result.status = status;
    result.error = error;
    result.problem = std::move(problem);
    return result;
}

// Why the file at path is not a lock file of ours; empty when it is.
std::string NotOursReason(const std::string& path, const struct stat& info) {
    struct stat folder {};
    if (S_ISLNK(info.st_mode)) {
        return path + " is a symbolic link, not a lock file";
    }
    if (!S_ISREG(info.st_mode)) {
        return path + " is not a regular file";
    }
    if (::stat(FolderOf(path).c_str(), &folder) != 0 || !OwnedByUs(info, folder)) {
        return path + " belongs to " + DescribeUser(info.st_uid) + ", not to this user";
    }
    return std::string();
}

// An open that failed: a planted file says whose it is.
LockResult OpenFailure(const std::string& path, int error) {
    struct stat seen {};
    if ((error == EACCES || error == ELOOP || error == EPERM) && lstat(path.c_str(), &seen) == 0) {
        std::string reason = NotOursReason(path, seen);
        if (!reason.empty()) {
            return Refused(LockStatus::NotOurs, error, reason);
        }
    }
    return Refused(LockStatus::Failed, error, path + " cannot be opened: " + std::strerror(error));
}

// A lock file just made by root goes to the owner of its folder, who runs the program the other times.
void GiveToFolderOwner(int fd, const std::string& path) {
    struct stat like {};
    if (geteuid() == 0 && NewFileLike(FolderOf(path), kLockFileMode, like) && like.st_uid != 0) {
        (void)!fchown(fd, like.st_uid, like.st_gid);
    }
}

int OpenLockFile(const std::string& path, LockResult& failure) {
    const int flags = O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY;
    int fd = open(path.c_str(), flags | O_CREAT | O_EXCL, kLockFileMode);
    if (fd >= 0) {
        GiveToFolderOwner(fd, path);
        return fd;
    }
    if (errno == EEXIST) {
        fd = open(path.c_str(), flags);
    }
    if (fd < 0) {
        failure = OpenFailure(path, errno);
        return -1;
    }
    struct stat info {};
    if (fstat(fd, &info) != 0) {
        failure = Refused(LockStatus::Failed, errno, path + " cannot be examined: " + std::strerror(errno));
        close(fd);
        return -1;
    }
    std::string reason = NotOursReason(path, info);
    if (!reason.empty()) {
        failure = Refused(LockStatus::NotOurs, EPERM, reason);
        close(fd);
        return -1;
    }
    if ((info.st_mode & 07777) != kLockFileMode) {
        (void)!fchmod(fd, kLockFileMode);
    }
    return fd;
}

// The process holding a flock on the open file fd, as /proc/locks lists it ("1: FLOCK ADVISORY WRITE 42
// 08:01:1234 0 EOF"; waiting requests are marked "->").
pid_t FlockHolder(int fd) {
    struct stat info {};
    if (fstat(fd, &info) != 0) {
        return -1;
    }
    char wanted[64];
    std::snprintf(wanted, sizeof wanted, "%02x:%02x:%llu", major(info.st_dev), minor(info.st_dev),
                  static_cast<unsigned long long>(info.st_ino));
    std::ifstream locks("/proc/locks");
    std::string line;
    while (std::getline(locks, line)) {
        std::istringstream words(line);
        std::string number, kind, advisory, access, file;
        long pid = -1;
        words >> number >> kind;
        if (kind == "->") {
            continue;
        }
        words >> advisory >> access >> pid >> file;
        if (kind == "FLOCK" && file == wanted && pid > 0 && pid != getpid()) {
            return static_cast<pid_t>(pid);
        }
    }
    return -1;
}

LockResult BusyResult(const std::string& path, int fd) {
    LockResult result = Refused(LockStatus::Busy, EWOULDBLOCK, path + " is held by another program");
    result.holderPid = FlockHolder(fd);
    struct stat process {};
    if (result.holderPid > 0 && ::stat(("/proc/" + std::to_string(result.holderPid)).c_str(), &process) == 0) {
        result.holderUid = process.st_uid;
        result.problem =
            path + " is held by process " + std::to_string(result.holderPid) + " of " + DescribeUser(process.st_uid);
    }
    return result;
}

}  // namespace

bool LockResult::HeldByOtherUser() const {
    return status == LockStatus::Busy && holderUid != static_cast<uid_t>(-1) && holderUid != geteuid();
}

FileLock& FileLock::operator=(FileLock&& other) noexcept {
    if (this != &other) {
        Release();
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

LockResult FileLock::Acquire(const std::string& path, std::chrono::milliseconds timeout) {
    Release();
    LockResult result;
    int fd = OpenLockFile(path, result);
    if (fd < 0) {
        return result;
    }
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
            fd_ = fd;
            result = LockResult{};
            result.status = LockStatus::Held;
            return result;
        }
        int error = errno;
        if (error == EINTR) {
            continue;
        }
        if (error != EWOULDBLOCK) {
            result = Refused(LockStatus::Failed, error, path + " cannot be locked: " + std::strerror(error));
            break;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            result = BusyResult(path, fd);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    close(fd);
    return result;
}

void FileLock::Release() {
    if (fd_ >= 0) {
        close(fd_);  // closing the only descriptor of the open file drops the lock
        fd_ = -1;
    }
}

}  // namespace vantrel
