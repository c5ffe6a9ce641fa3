#include "ui/single_instance.h"

#include "context/program_context.h"
#include "files/file_owner.h"
#include "ui/messages.h"

namespace vantrel {
namespace {

// Why the folder cannot be taken; empty when it can.
QString Refusal(const InstanceLock& lock, const QString& folder) {
    const QString problem = QString::fromStdString(lock.Lock().problem);
    switch (lock.Status()) {
        case InstanceLockStatus::HeldElsewhere:
            return lock.Lock().HeldByOtherUser() ? QString::fromLatin1(kHeldByOtherUser).arg(folder, problem)
                                                 : QString::fromLatin1(kAlreadyRunning).arg(folder);
        case InstanceLockStatus::NotOurs:
            return QString::fromLatin1(kLockFileNotOurs).arg(folder, problem);
        case InstanceLockStatus::Held:
        case InstanceLockStatus::Unavailable:
            break;
    }
    return QString();
}

}  // namespace

std::optional<InstanceLock> ClaimDataFolder(ProgramContext& context, QWidget* parent) {
    const std::string& folder = context.Paths().dataFolder;
    InstanceLock lock = TryLockInstance(folder);
    const QString refusal = Refusal(lock, QString::fromStdString(folder));
    if (!refusal.isEmpty()) {
        ShowMessage(parent, refusal, QString::fromLatin1(kProgramCaption));
        return std::nullopt;
    }
    const std::string warning = FolderOpenToOthers(folder);
    if (!warning.empty()) {
        context.Tell(warning.c_str());
    }
    return lock;
}

}  // namespace vantrel
