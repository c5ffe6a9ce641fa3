#include "store/instance_lock.h"

namespace vantrel {

InstanceLock TryLockInstance(const std::string& dataFolder) {
    InstanceLock instance;
    instance.result_ = instance.lock_.Acquire(dataFolder + kInstanceLockFileName, std::chrono::milliseconds(0));
    switch (instance.result_.status) {
        case LockStatus::Held:
            instance.status_ = InstanceLockStatus::Held;
            break;
        case LockStatus::Busy:
            instance.status_ = InstanceLockStatus::HeldElsewhere;
            break;
        case LockStatus::NotOurs:
            instance.status_ = InstanceLockStatus::NotOurs;
            break;
        case LockStatus::Failed:
            instance.status_ = InstanceLockStatus::Unavailable;
            break;
    }
    return instance;
}

}  // namespace vantrel
