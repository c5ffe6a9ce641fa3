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

// Takes the data folder of context for this process until it ends. When another Vantrel holds it, tells the
// operator and gives false: the program should end. A folder where no lock file can be made gives true.
bool ClaimDataFolder(ProgramContext& context, QWidget* parent = nullptr);

// The same with the lock handed to the caller (held while it lives); nothing when another Vantrel holds it.
std::optional<InstanceLock> ClaimDataFolderFor(ProgramContext& context, QWidget* parent = nullptr);

}  // namespace vantrel
