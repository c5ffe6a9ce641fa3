#include "database_file.h"

#include <cerrno>
#include <cstring>
#include <new>
#include <thread>

#include "files/atomic_file.h"
#include "files/content_hash.h"
#include "files/file_owner.h"
#include "files/file_paths.h"
#include "files/file_read.h"

namespace vantrel {
namespace {

bool SameTime(const struct timespec& a, const struct timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// A DOCTYPE's internal subset must not end the parse: everything after it would be lost at the next save.
constexpr std::uint32_t kParseOptions =
    XmlParseOptions::AllOptions & ~std::uint32_t{XmlParseOptions::StopAfterInternalSubset};

bool RanOutOfMemory(const XmlLoadResult& result) {
    return result.status == FileReadStatus::OutOfMemory ||
           (result.status == FileReadStatus::Unreadable && result.error == ENOMEM);
}

}  // namespace

DatabaseFile::DatabaseFile(std::string path, DatabaseFileOptions options)
    : path_(std::move(path)), options_(std::move(options)) {
    if (!path_.empty()) {
        lockPath_ = FolderOf(path_) + "." + FileNameOf(path_) + ".lock";
    }
}

std::string DatabaseFile::Lock(FileLock& lock) const {
    LockResult locked = lock.Acquire(lockPath_, options_.lockTimeout);
    if (locked.Held()) {
        return std::string();
    }
    if (locked.status == LockStatus::Busy && !locked.HeldByOtherUser()) {
        return path_ + " is in use by another program (its lock file is held)";
    }
    return path_ + " cannot be written: " + locked.problem;
}

void DatabaseFile::RemoveLeftovers(const std::string& companion) const {
    FileLock lock;
    if (Lock(lock).empty()) {
        // every writer holds the lock while its temporary files exist, so those found now are left over
        RemoveStaleTempFiles(path_);
        if (!companion.empty()) {
            RemoveStaleTempFiles(companion);
        }
    }
}

LoadedDatabase DatabaseFile::Read() const {
    LoadedDatabase loaded;
    try {
        loaded.document = std::make_unique<XmlDocument>();
        loaded.document->SetParseOptions(kParseOptions);
        loaded.report = loaded.document->LoadFile(path_.c_str(), kMaxXmlFileSize);
        loaded.outOfMemory = RanOutOfMemory(loaded.report);
        if (loaded.outOfMemory || !loaded.document->Root().IsValid()) {
            loaded.document->Reset();
        }
    } catch (const std::bad_alloc&) {
        loaded.document.reset();
        loaded.outOfMemory = true;
    }
    if (loaded.outOfMemory) {
        // what was read is given back; a tree of nothing needs no memory to speak of
        loaded.report.damaged = false;
        loaded.report.problem.clear();
        if (loaded.document == nullptr) {
            loaded.document.reset(new (std::nothrow) XmlDocument());
        }
        if (loaded.document != nullptr) {
            loaded.document->Reset();
        }
    }
    return loaded;
}

DatabaseFile::Identity DatabaseFile::IdentityOf(const struct stat& info) {
    Identity file;
    file.exists = true;
    file.device = info.st_dev;
    file.inode = info.st_ino;
    file.size = info.st_size;
    file.modified = info.st_mtim;
    file.changed = info.st_ctim;
    return file;
}

void DatabaseFile::Loaded(const LoadedDatabase& loaded) {
    loaded_ = Identity{};
    if (loaded.report.status == FileReadStatus::Read && !loaded.outOfMemory) {
        loaded_ = IdentityOf(loaded.report.info);
        // the text holds the file's bytes unless a NUL byte cut it; its hash is needed only in the rare case
        // of a status change without a change of size or time, so it is not taken now
        loaded_.hashInText = loaded.document != nullptr && loaded.document->Text().size() == loaded.report.size;
    }
}

FileChange DatabaseFile::ChangedSinceLoad(std::string_view loadedText) {
    struct stat now {};
    if (lstat(path_.c_str(), &now) != 0) {
        // gone since: nothing of anyone else's to keep; cannot be looked at: a load says why
        return errno != ENOENT || loaded_.exists ? FileChange::Changed : FileChange::Unchanged;
    }
    if (!S_ISREG(now.st_mode)) {
        return FileChange::NotRegular;
    }
    if (!loaded_.exists || now.st_dev != loaded_.device || now.st_ino != loaded_.inode || now.st_size != loaded_.size ||
        !SameTime(now.st_mtim, loaded_.modified)) {
        return FileChange::Changed;
    }
    // nothing has touched the inode since: no need to read it (the status change time cannot be set back)
    if (SameTime(now.st_ctim, loaded_.changed)) {
        return FileChange::Unchanged;
    }
    // the same size and time can still hide another writer's bytes
    if (!loaded_.hashKnown && loaded_.hashInText) {
        loaded_.hash = ContentHash::Of(loadedText.data(), loadedText.size());
        loaded_.hashKnown = true;
    }
    std::uint64_t hash = 0;
    if (!loaded_.hashKnown || !HashRegularFile(path_, &now, &hash) || hash != loaded_.hash) {
        return FileChange::Changed;
    }
    loaded_.changed = now.st_ctim;
    return FileChange::Unchanged;
}

bool DatabaseFile::Settle() const {
    Sleeper sleep = options_.sleep ? options_.sleep
                                   : Sleeper([](std::chrono::milliseconds time) { std::this_thread::sleep_for(time); });
    struct stat last {};
    bool seen = lstat(path_.c_str(), &last) == 0;
    for (int check = 0; check < kSettleChecks; ++check) {
        sleep(kSettleInterval);
        struct stat now {};
        bool there = lstat(path_.c_str(), &now) == 0;
        if (there == seen && (!there || (now.st_size == last.st_size && SameTime(now.st_mtim, last.st_mtim) &&
                                         now.st_ino == last.st_ino))) {
            return true;
        }
        last = now;
        seen = there;
    }
    return false;
}

std::string DatabaseFile::CopyPath(int slot) const {
    return slot == 0 ? path_ + ".bak" : path_ + ".bak." + std::to_string(slot);
}

std::string DatabaseFile::NextCopyPath() const {
    for (int slot = 0; slot < kMaxDamagedCopies; ++slot) {
        struct stat info {};
        if (lstat(CopyPath(slot).c_str(), &info) != 0 && errno == ENOENT) {
            return CopyPath(slot);
        }
    }
    return CopyPath(kMaxDamagedCopies - 1);
}

std::string DatabaseFile::KeepCopyOfDamaged(std::string& why) const {
    FileContents original = ReadRegularFile(path_, kMaxXmlFileSize, false);
    if (original.status != FileReadStatus::Read) {
        why = "it cannot be read again";
        return std::string();
    }
    const std::string& bytes = original.bytes;
    for (int slot = 0; slot < kMaxDamagedCopies; ++slot) {
        std::string copy = CopyPath(slot);
        struct stat info {};
        if (lstat(copy.c_str(), &info) == 0 || errno != ENOENT) {
            // taken: never replaced, but a copy of these very bytes is as good as a new one
            if (S_ISREG(info.st_mode) && static_cast<std::size_t>(info.st_size) == bytes.size() &&
                ReadRegularFile(copy, kMaxXmlFileSize, false).bytes == bytes) {
                return copy;
            }
            continue;
        }
        AtomicWriteResult placed = WriteFileAtomically(
            copy, Placement::KeepExisting, [&bytes](int fd) { return WriteAll(fd, bytes.data(), bytes.size()); },
            nullptr);
        if (placed.Ok() && !placed.keptExisting) {
            return copy;
        }
        if (!placed.keptExisting) {
            why = copy + " cannot be written: " + std::strerror(placed.error);
            return std::string();
        }
    }
    why = "the copies " + CopyPath(0) + " to " + CopyPath(kMaxDamagedCopies - 1) +
          " are all taken; move some of them elsewhere";
    return std::string();
}

std::string DatabaseFile::Write(XmlNodeRef root, const XmlVerbatim& verbatim) {
    struct stat existing {};
    bool replacing = lstat(path_.c_str(), &existing) == 0 && S_ISREG(existing.st_mode);
    // a new file goes to the folder's owner: a `sudo` run must not leave a database its user cannot read
    bool owned = replacing || NewFileLike(FolderOf(path_), S_IRUSR | S_IWUSR, existing);
    SavedFile saved = SaveAtomically(path_, root, options_.saveSink, owned ? &existing : nullptr, verbatim,
                                     replacing ? existing.st_size : 0);
    if (!saved.Ok()) {
        return path_ + " cannot be written: " + std::strerror(saved.error);
    }
    loaded_ = IdentityOf(saved.info);
    struct stat placed {};
    if (lstat(path_.c_str(), &placed) == 0 && placed.st_ino == saved.info.st_ino) {
        loaded_.changed = placed.st_ctim;  // the rename may have moved it
    }
    loaded_.hash = saved.hash;
    loaded_.hashKnown = true;
    return std::string();
}

}  // namespace vantrel
