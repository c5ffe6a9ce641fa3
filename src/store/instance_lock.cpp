#include "store/instance_lock.h"

#include <cerrno>

namespace vantrel {

InstanceLock TryLockInstance(const std::string& dataFolder) {
    InstanceLock instance;
    if (instance.lock_.Acquire(dataFolder + kInstanceLockFileName, std::chrono::milliseconds(0))) {
        instance.status_ = InstanceLockStatus::Held;
    } else if (instance.lock_.Error() == EWOULDBLOCK) {
        instance.status_ = InstanceLockStatus::HeldElsewhere;
    }
    return instance;
}

}  // namespace vantrel
