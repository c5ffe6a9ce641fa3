// Save: the lock, another program's changes taken in, the copy of a damaged original, the new file in place.

#include <cstring>
#include <new>

#include "files/file_lock.h"
#include "xml_device_store_impl.h"

namespace vantrel {

std::string XmlDeviceStore::Impl::KeepCopyOfDamaged() {
    if (!condition_.file.damaged || condition_.backupMade) {
        return std::string();
    }
    std::string why;
    std::string copy = file_.KeepCopyOfDamaged(why);
    if (copy.empty()) {
        return file_.Path() + " is damaged and no copy of it could be kept: " + why;
    }
    condition_.backupPath = copy;
    condition_.backupMade = true;
    return std::string();
}

std::string XmlDeviceStore::Impl::ReloadAndReapply() {
    if (!replay_.Replayable()) {
        return file_.Path() +
               " was changed by another program since it was opened; the changes made here since cannot be "
               "applied to it again";
    }
    LoadedDatabase fresh = file_.Read();
    // another program writing the file in place may be caught half-way: a file that was whole when we loaded
    // it is never replaced by what a half-written one gives
    auto incomplete = [](const LoadedDatabase& loaded) {
        return loaded.outOfMemory || (loaded.report.status != FileReadStatus::Missing && !loaded.report.Clean());
    };
    if (incomplete(fresh) && condition_.file.Clean()) {
        if (file_.Settle()) {
            fresh = file_.Read();
        }
        if (incomplete(fresh)) {
            return file_.Path() +
                   " is being written by another program, or was left incomplete by it; nothing was saved and "
                   "the changes made here are kept: save again when the other program has finished";
        }
    }
    bool agreed = condition_.newKeyAgreed;
    Adopt(std::move(fresh));
    condition_.newKeyAgreed = agreed;
    ApplyPendingAgain();
    condition_.reloaded = true;
    return DescribeSaveRefusal(condition_);
}

int XmlDeviceStore::Impl::Save() try {
    condition_.reloaded = false;
    condition_.skipped.clear();
    condition_.saveProblem.clear();
    auto refuse = [this](std::string why) {
        condition_.saveProblem = std::move(why);
        return 0;
    };
    if (file_.Path().empty()) {
        return refuse("no database file");
    }
    if (std::string refusal = DescribeSaveRefusal(condition_); !refusal.empty()) {
        return refuse(refusal);
    }
    FileLock lock;
    if (std::string why = file_.Lock(lock); !why.empty()) {
        return refuse(why);
    }
    switch (file_.ChangedSinceLoad(document_->Text())) {
        case FileChange::NotRegular:
            return refuse(file_.Path() + " is not a regular file");
        case FileChange::Changed:
            if (std::string why = ReloadAndReapply(); !why.empty()) {
                return refuse(why);
            }
            break;
        case FileChange::Unchanged:
            break;
    }
    if (std::string why = KeepCopyOfDamaged(); !why.empty()) {
        return refuse(why);
    }
    FindVerbatimDevices();
    if (std::string why = file_.Write(document_->Root(), verbatim_); !why.empty()) {
        return refuse(why);
    }
    replay_.Saved();
    return 1;
} catch (const std::bad_alloc&) {
    condition_.saveProblem = "memory ran out while saving " + file_.Path() + "; it was left as it was";
    return 0;
}

}  // namespace vantrel
