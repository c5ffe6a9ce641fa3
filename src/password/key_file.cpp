#include "password/key_file.h"

#include <fcntl.h>
#include <sodium.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "files/atomic_file.h"
#include "files/file_owner.h"
#include "files/file_paths.h"
#include "files/file_read.h"

namespace vantrel {
namespace {

constexpr mode_t kKeyFileMode = S_IRUSR | S_IWUSR;

KeyState Problem(KeyStatus status, int error, std::string problem) {
    KeyState state;
    state.status = status;
    state.error = error;
    state.problem = std::move(problem);
    return state;
}

std::string ModeText(mode_t mode) {
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

// What a read of the key file that gave no key found, in words.
KeyState ReadFailure(const std::string& path, const FileContents& read) {
    const std::string file = "the key file " + path;
    switch (read.status) {
        case FileReadStatus::Missing:
            return Problem(KeyStatus::Missing, ENOENT, file + " is missing");
        case FileReadStatus::NotRegularFile:
            return Problem(KeyStatus::NotRegularFile, 0, file + " is not a regular file");
        case FileReadStatus::Unreadable:
            return Problem(KeyStatus::Unreadable, read.error, file + " cannot be read: " + std::strerror(read.error));
        case FileReadStatus::OutOfMemory:
            return Problem(KeyStatus::Unreadable, ENOMEM, file + " cannot be read: " + std::strerror(ENOMEM));
        case FileReadStatus::TooLarge:
        case FileReadStatus::Read:
            break;
    }
    std::uint64_t size = read.status == FileReadStatus::Read ? read.bytes.size() : read.info.st_size;
    return Problem(
        KeyStatus::WrongSize, 0,
        file + " holds " + std::to_string(size) + " bytes instead of " + std::to_string(PasswordKey().size()));
}

// A key others may read is no secret: tightened when it is ours, reported either way.
std::string GuardExposure(const std::string& path, const struct stat& read) {
    if ((read.st_mode & 077) == 0) {
        return std::string();
    }
    const std::string was = "The key file " + path + " could be read by other users (mode " + ModeText(read.st_mode);
    struct stat folder {};
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
    struct stat opened {};
    bool tightened = fd >= 0 && fstat(fd, &opened) == 0 && SameFile(opened, read) &&
                     ::stat(FolderOf(path).c_str(), &folder) == 0 && OwnedByUs(opened, folder) &&
                     fchmod(fd, kKeyFileMode) == 0;
    if (fd >= 0) {
        close(fd);
    }
    if (tightened) {
        return was + "); it is now readable by its owner alone. Whoever read it can decipher the passwords.";
    }
    return was + ", owner " + DescribeUser(read.st_uid) +
           "): whoever reads it can decipher the passwords. Make it readable by its owner alone (chmod 600).";
}

}  // namespace

KeyFile::KeyFile(std::string path, std::string ownerSource)
    : path_(std::move(path)), ownerSource_(std::move(ownerSource)) {}

KeyFile KeyFile::ForDatabase(const std::string& databasePath) {
    if (databasePath.empty()) {
        return KeyFile(std::string(), std::string());
    }
    return KeyFile(FolderOf(databasePath) + kKeyFileName, databasePath);
}

void KeyFile::Forget() {
    sodium_memzero(cachedKey_.data(), cachedKey_.size());
    cached_ = false;
}

KeyState KeyFile::Read(PasswordKey& key) {
    FileContents read = ReadRegularFile(path_, key.size(), false);
    KeyState state;
    if (read.status != FileReadStatus::Read || read.bytes.size() != key.size()) {
        state = ReadFailure(path_, read);
    } else {
        std::memcpy(key.data(), read.bytes.data(), key.size());
        state.status = KeyStatus::Ready;
        state.warning = GuardExposure(path_, read.info);
        cachedKey_ = key;
        cached_ = ::lstat(path_.c_str(), &cachedFile_) == 0;
    }
    sodium_memzero(&read.bytes[0], read.bytes.size());
    return state;
}

KeyState KeyFile::Create() {
    // the owner of the database (or its folder): a key made by a `sudo` run stays usable by the user
    struct stat like {};
    if (::stat(ownerSource_.c_str(), &like) == 0 && S_ISREG(like.st_mode)) {
        like.st_mode = S_IFREG | kKeyFileMode;
    } else if (!NewFileLike(FolderOf(path_), kKeyFileMode, like)) {
        return Problem(KeyStatus::NotCreated, errno,
                       "the key file " + path_ + " cannot be created: " + std::strerror(errno));
    }
    PasswordKey fresh;
    randombytes_buf(fresh.data(), fresh.size());
    // linked into place: a key made meanwhile by someone else wins
    AtomicWriteResult placed = WriteFileAtomically(
        path_, Placement::KeepExisting, [&fresh](int fd) { return WriteAll(fd, fresh.data(), fresh.size()); }, &like);
    sodium_memzero(fresh.data(), fresh.size());
    if (!placed.Ok()) {
        return Problem(KeyStatus::NotCreated, placed.error,
                       "the key file " + path_ + " cannot be created: " + std::strerror(placed.error));
    }
    return KeyState{KeyStatus::Ready, 0, std::string(), std::string()};
}

KeyState KeyFile::Load(bool create, PasswordKey& key) {
    if (path_.empty()) {
        state_ = Problem(KeyStatus::Missing, ENOENT, "there is no key file");
        return state_;
    }
    if (sodium_init() < 0) {
        state_ = Problem(KeyStatus::Unreadable, 0, "the key file " + path_ + " cannot be used: no random numbers");
        return state_;
    }
    // a key file removed or replaced since (restored from a backup, say) is read again, so that nothing is
    // ever enciphered under a key that is no longer on disk
    struct stat now {};
    if (cached_ && ::lstat(path_.c_str(), &now) == 0 && SameFileState(now, cachedFile_)) {
        key = cachedKey_;
        state_.status = KeyStatus::Ready;
        state_.problem.clear();
        return state_;
    }
    Forget();
    state_ = Read(key);
    if (state_.status == KeyStatus::Missing && create) {
        state_ = Create();
        if (state_.Ready()) {
            state_ = Read(key);
        }
    }
    return state_;
}

KeyState KeyFile::Check() {
    PasswordKey key;
    Load(false, key);
    sodium_memzero(key.data(), key.size());
    return state_;
}

}  // namespace vantrel
