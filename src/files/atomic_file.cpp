#include "files/atomic_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "files/file_owner.h"
#include "files/file_paths.h"

namespace vantrel {
namespace {

constexpr const char* kTempInfix = ".tmp-";
constexpr std::size_t kTempSuffixLength = 6;  // the XXXXXX of mkostemp

void SyncFolder(const std::string& folder) {
    int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        fsync(fd);
        close(fd);
    }
}

// Owner first: changing the owner may clear the permission bits that follow.
void CopyOwnership(int fd, const struct stat& like) {
    if (fchown(fd, like.st_uid, like.st_gid) != 0) {
        (void)!fchown(fd, static_cast<uid_t>(-1), like.st_gid);
    }
    fchmod(fd, like.st_mode & 0777);
}

// prefix followed by exactly the six characters mkostemp puts in place of XXXXXX
bool IsTempFileName(const char* name, const std::string& prefix) {
    std::size_t length = std::strlen(name);
    if (length != prefix.size() + kTempSuffixLength || std::strncmp(name, prefix.c_str(), prefix.size()) != 0) {
        return false;
    }
    for (const char* p = name + prefix.size(); *p != '\0'; ++p) {
        bool fromTheSet = (*p >= 'A' && *p <= 'Z') || (*p >= 'a' && *p <= 'z') || (*p >= '0' && *p <= '9');
        if (!fromTheSet) {
            return false;
        }
    }
    return true;
}

// The file a rename replaces, held open across it. Its last close frees the old file's cached pages and
// blocks, which for a large database takes milliseconds; that close goes to a thread of its own so that the
// caller does not wait for it. Small files are not worth a thread.
class ReplacedFile {
public:
    explicit ReplacedFile(const std::string& target)
        : fd_(open(target.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY)) {
        struct stat info {};
        if (fd_ >= 0 && (fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size < kWorthAThread)) {
            close(fd_);
            fd_ = -1;
        }
    }
    ~ReplacedFile() {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    ReplacedFile(const ReplacedFile&) = delete;
    ReplacedFile& operator=(const ReplacedFile&) = delete;

    // Once the rename has taken the file's name away and is on disk.
    void ReleaseInBackground() {
        if (fd_ < 0) {
            return;
        }
        int fd = fd_;
        fd_ = -1;
        try {
            std::thread([fd] { close(fd); }).detach();
        } catch (const std::system_error&) {
            close(fd);
        }
    }

private:
    static constexpr off_t kWorthAThread = 1 << 20;
    int fd_;
};

}  // namespace

std::string TempFilePattern(const std::string& target) {
    return FolderOf(target) + "." + FileNameOf(target) + kTempInfix + "XXXXXX";
}

AtomicWriteResult WriteFileAtomically(const std::string& target, Placement placement, const FileWriter& writer,
                                      const struct stat* like) {
    AtomicWriteResult result;
    if (target.empty() || FileNameOf(target).empty()) {
        result.error = EINVAL;
        return result;
    }
    std::string pattern = TempFilePattern(target);
    std::vector<char> tempPath(pattern.begin(), pattern.end());
    tempPath.push_back('\0');
    int fd = mkostemp(tempPath.data(), O_CLOEXEC);
    if (fd < 0) {
        result.error = errno != 0 ? errno : EIO;
        return result;
    }
    auto fail = [&](int error) {
        result.error = error != 0 ? error : EIO;
        unlink(tempPath.data());
        return result;
    };
    if (fchmod(fd, S_IRUSR | S_IWUSR) != 0) {
        int error = errno;
        close(fd);
        return fail(error);
    }
    if (like != nullptr) {
        CopyOwnership(fd, *like);
    }
    errno = 0;
    if (!writer(fd)) {
        int error = errno;
        close(fd);
        return fail(error);
    }
    if (fsync(fd) != 0 || fstat(fd, &result.info) != 0) {
        int error = errno;
        close(fd);
        return fail(error);
    }
    if (close(fd) != 0) {
        return fail(errno);
    }
    std::optional<ReplacedFile> replaced;
    if (placement == Placement::Replace) {
        replaced.emplace(target);
        if (std::rename(tempPath.data(), target.c_str()) != 0) {
            return fail(errno);
        }
    } else {
        if (link(tempPath.data(), target.c_str()) != 0) {
            if (errno != EEXIST) {
                return fail(errno);
            }
            result.keptExisting = true;
        }
        unlink(tempPath.data());
    }
    SyncFolder(FolderOf(target));
    if (replaced) {
        // not before the folder's sync: freeing the old file's blocks writes to the same disk, and that sync
        // would wait behind it
        replaced->ReleaseInBackground();
    }
    return result;
}

std::size_t RemoveStaleTempFiles(const std::string& target) {
    std::string folder = FolderOf(target);
    std::string prefix = "." + FileNameOf(target) + kTempInfix;
    struct stat folderInfo {};
    DIR* dir = ::stat(folder.c_str(), &folderInfo) == 0 ? opendir(folder.c_str()) : nullptr;
    if (dir == nullptr) {
        return 0;
    }
    std::vector<std::string> stale;
    while (dirent* entry = readdir(dir)) {
        if (IsTempFileName(entry->d_name, prefix)) {
            stale.emplace_back(entry->d_name);
        }
    }
    closedir(dir);
    std::size_t removed = 0;
    for (const std::string& name : stale) {
        struct stat info {};
        std::string path = folder + name;
        // only our own files: a folder of that name, or another user's file, is not a leftover of ours
        if (lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && OwnedByUs(info, folderInfo) &&
            unlink(path.c_str()) == 0) {
            ++removed;
        }
    }
    return removed;
}

}  // namespace vantrel
