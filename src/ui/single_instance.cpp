#include "ui/single_instance.h"

#include "context/program_context.h"
#include "ui/messages.h"

namespace vantrel {

std::optional<InstanceLock> ClaimDataFolderFor(ProgramContext& context, QWidget* parent) {
    InstanceLock lock = TryLockInstance(context.Paths().dataFolder);
    if (lock.Status() == InstanceLockStatus::HeldElsewhere) {
        ShowMessage(parent,
                    QString::fromLatin1(kAlreadyRunning).arg(QString::fromStdString(context.Paths().dataFolder)),
                    QString::fromLatin1(kProgramCaption));
        return std::nullopt;
    }
    return lock;
}

bool ClaimDataFolder(ProgramContext& context, QWidget* parent) {
    static std::optional<InstanceLock> held;
    held = ClaimDataFolderFor(context, parent);
    return held.has_value();
}

}  // namespace vantrel
