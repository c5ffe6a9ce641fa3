#pragma once

// The database file on disk: its lock file, loading it into a document, telling whether someone else has
// changed it since, waiting for another writer that is half-way, keeping copies of a damaged original, and
// putting a new version in place.

#include <sys/stat.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "atomic_save.h"
#include "files/file_lock.h"
#include "store/store_options.h"
#include "xml/xml_document.h"

namespace vantrel {

// Copies of damaged originals: Data.xml.bak, then Data.xml.bak.1 to .bak.<kMaxDamagedCopies - 1>. The first
// is never replaced; when all are taken, a damaged file is not saved over (nothing is lost, the operator is
// told to move copies away). Ten is far more than an ordinary life of a database needs.
inline constexpr int kMaxDamagedCopies = 10;

// Another program that writes the file in place without the lock is waited for: its size and time are
// checked kSettleChecks times, kSettleInterval apart, until two checks in a row agree (at most 3 s).
inline constexpr int kSettleChecks = 10;
inline constexpr std::chrono::milliseconds kSettleInterval{300};

// One load of the file: the document and how the read went.
struct LoadedDatabase {
    std::unique_ptr<XmlDocument> document;
    XmlLoadResult report;
    // memory ran out while reading or building the tree (the document is then empty)
    bool outOfMemory = false;
};

enum class FileChange { Unchanged, Changed, NotRegular };

class DatabaseFile {
public:
    DatabaseFile(std::string path, DatabaseFileOptions options);

    const std::string& Path() const { return path_; }
    const std::string& LockPath() const { return lockPath_; }

    // Takes the lock file; empty on success, otherwise a line naming the file and why.
    std::string Lock(FileLock& lock) const;
    // Removes the temporary files that interrupted saves of the file and of the companion files given left,
    // when the lock can be taken.
    void RemoveLeftovers(const std::string& companion) const;

    // Reads the file into a new document; changes nothing here. Never throws.
    LoadedDatabase Read() const;
    // From now on the file counts as loaded as it was when this was read.
    void Loaded(const LoadedDatabase& loaded);

    // Whether the file at the path is still the one loaded (or saved) last.
    FileChange ChangedSinceLoad(std::string_view loadedText);
    // Waits until the file's size and time stop changing; false when they still changed at the last check.
    bool Settle() const;

    // Where the next copy of a damaged original would go: the first free copy slot.
    std::string NextCopyPath() const;
    // Keeps a copy of the file as it is now in the first free copy slot (or the slot already holding the same
    // bytes). The path of the copy, or empty with why set when none could be kept.
    std::string KeepCopyOfDamaged(std::string& why) const;

    // Writes the tree in place of the file, copying what verbatim holds where it still applies. Empty on
    // success, else why it failed, naming the file (which is left as it was).
    std::string Write(XmlNodeRef root, const XmlVerbatim& verbatim);

private:
    struct Identity {
        bool exists = false;
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = 0;
        struct timespec modified {};
        struct timespec changed {};  // ctime: any write, or a time set back by hand, moves it
        std::uint64_t hash = 0;
        bool hashKnown = false;
        // hash unknown but the document's text is the file's bytes: the hash is taken from it when needed
        bool hashInText = false;
    };
    static Identity IdentityOf(const struct stat& info);
    std::string CopyPath(int slot) const;

    std::string path_;
    std::string lockPath_;
    DatabaseFileOptions options_;
    Identity loaded_;
};

}  // namespace vantrel
