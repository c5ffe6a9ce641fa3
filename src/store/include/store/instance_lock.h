#pragma once

// One Vantrel per data folder: the program holds this lock for as long as it runs, so that a second one can
// be told that the first is still there.

#include <string>

#include "files/file_lock.h"

namespace vantrel {

inline constexpr const char* kInstanceLockFileName = ".Vantrel.instance.lock";

enum class InstanceLockStatus {
    Held,           // this process is the one
    HeldElsewhere,  // another process (or another lock in this one) holds it; Lock() says which, if known
    NotOurs,        // the lock file is another user's, a link or not a file; Lock().problem says which
    Unavailable,    // no lock file can be made (the folder is missing or not writable); nothing is known
};

class InstanceLock {
public:
    InstanceLockStatus Status() const { return status_; }
    // How taking the lock file went, with the holder or the owner named.
    const LockResult& Lock() const { return result_; }

private:
    friend InstanceLock TryLockInstance(const std::string& dataFolder);
    FileLock lock_;
    LockResult result_;
    InstanceLockStatus status_ = InstanceLockStatus::Unavailable;
};

// Tries, without waiting, to take the lock file kInstanceLockFileName in dataFolder (the folder of Data.xml,
// ending in '/'). The lock lasts as long as the returned object (or the process).
InstanceLock TryLockInstance(const std::string& dataFolder);

}  // namespace vantrel
