#pragma once

// One Vantrel per data folder.

#include <optional>

#include "store/instance_lock.h"

class QWidget;

namespace vantrel {

class ProgramContext;

// %1 is the data folder.
inline constexpr const char* kAlreadyRunning =
    "Vantrel is already running with the data folder %1. Use the window that is open, or close it first.";
// %1 is the data folder, %2 names the holder ("... is held by process 42 of alice (uid 1000)").
inline constexpr const char* kHeldByOtherUser =
    "The data folder %1 is in use by another user's program: %2. Vantrel cannot use it at the same time.";
// %1 is the data folder, %2 says what is wrong with its lock file.
inline constexpr const char* kLockFileNotOurs =
    "Vantrel cannot use the data folder %1: %2. Remove that file if you do not know why it is there.";

// Takes the data folder of context for this process: the lock is held while the returned object lives (main
// keeps it to the end). When another program holds the folder, or its lock file is not ours, tells the
// operator why and gives nothing: the program should end. A folder where no lock file can be made gives a
// lock that holds nothing. A folder open to other users is warned about through the context's messages.
std::optional<InstanceLock> ClaimDataFolder(ProgramContext& context, QWidget* parent = nullptr);

}  // namespace vantrel
