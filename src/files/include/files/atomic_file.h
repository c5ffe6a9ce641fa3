#pragma once

// Putting a new file in place so that a reader, or the next start after a crash, finds either the old file
// or the complete new one: temporary file beside the target, fsync, rename (or link) into place, fsync of
// the folder.

#include <sys/stat.h>

#include <cstddef>
#include <functional>
#include <string>

namespace vantrel {

enum class Placement {
    Replace,       // rename over the target
    KeepExisting,  // link into place; an existing target wins and the new file is dropped
};

// How one atomic write went.
struct AtomicWriteResult {
    int error = 0;              // errno of the step that failed (EIO when the writer failed); 0 on success
    bool keptExisting = false;  // KeepExisting found a target already there (still a success)
    struct stat info {};        // fstat of the new file as put in place

    bool Ok() const { return error == 0; }
};

// Writes the bytes of the new file into the open descriptor; false when that failed.
using FileWriter = std::function<bool(int fd)>;

// The name pattern of the temporary files of target: "<folder>.<name>.tmp-XXXXXX".
std::string TempFilePattern(const std::string& target);

// Makes the temporary file (mode 0600; with like, the owner, group and permission bits of like where the
// process may set them), lets writer fill it, syncs it and places it. Not Ok, with the target untouched and
// no temporary file left, when any step fails; a missing folder creates nothing.
AtomicWriteResult WriteFileAtomically(const std::string& target, Placement placement, const FileWriter& writer,
                                      const struct stat* like);

// Removes the temporary files of target that interrupted writers left behind. Only safe while holding the
// lock that every writer of target holds. Gives the number removed.
std::size_t RemoveStaleTempFiles(const std::string& target);

}  // namespace vantrel
