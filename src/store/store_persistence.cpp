// Loading and saving the database file: how the load went, the lock beside the file, the backup of a damaged
// file, and a Save that finds the file changed by someone else.

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <set>

#include "files/atomic_file.h"
#include "files/content_hash.h"
#include "files/file_lock.h"
#include "files/file_owner.h"
#include "files/file_paths.h"
#include "files/file_read.h"
#include "store/xml_device_store.h"

namespace vantrel {
namespace {

constexpr char kCipherPrefix[] = "v1:";

bool SameTime(const struct timespec& a, const struct timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

bool KeyFileMissing(const std::string& keyPath) {
    struct stat info {};
    return !keyPath.empty() && lstat(keyPath.c_str(), &info) != 0 && errno == ENOENT;
}

}  // namespace

XmlDeviceStore::LoadedFile XmlDeviceStore::FileAsSeen(const struct stat& info) {
    LoadedFile file;
    file.exists = true;
    file.device = info.st_dev;
    file.inode = info.st_ino;
    file.size = info.st_size;
    file.modified = info.st_mtim;
    file.changed = info.st_ctim;
    return file;
}

void XmlDeviceStore::ForgetCaches() {
    for (XmlNodeRef& section : sections_) {
        section = XmlNodeRef();
    }
    idIndex_.clear();
    idAdded_.clear();
    idIndexBuilt_ = false;
    scan_.Invalidate();
}

void XmlDeviceStore::LoadDatabase() {
    ForgetCaches();
    XmlFileReport report = document_.LoadFileChecked(path_.c_str(), kMaxXmlFileSize);
    if (!document_.Root().IsValid()) {
        document_.Reset();
    }
    condition_.file = report;
    condition_.tooDeep = report.status == XmlFileStatus::Read && report.depth > kMaxDocumentDepth;
    condition_.backupPath = report.damaged ? path_ + ".bak" : std::string();
    condition_.backupMade = false;
    condition_.undecipherable.clear();

    loaded_ = LoadedFile{};
    if (report.status == XmlFileStatus::Read) {
        loaded_ = FileAsSeen(report.info);
        // the text holds the file's bytes unless a NUL byte cut it; its hash is needed only in the rare case
        // of a status change without a change of size or time, so it is not taken now
        loaded_.hashInText = document_.Text().size() == report.size;
    }

    std::uint32_t enciphered = 0;
    XmlNodeRef devices = ExistingSection("DEVINFO");
    for (std::uint32_t i = 0; i < devices.ChildCount(); ++i) {
        XmlNodeRef device = devices.Child(i);
        if (device.NameIs("DEV") &&
            device.FindAttribute("password").ValueView().substr(0, sizeof kCipherPrefix - 1) == kCipherPrefix) {
            ++enciphered;
        }
    }
    condition_.encipheredPasswords = enciphered;
    condition_.keyMissing = enciphered > 0 && KeyFileMissing(key_.Path());
    KeyState key = key_.Check();
    condition_.keyProblem = key.Ready() || key.status == KeyStatus::Missing ? std::string() : key.problem;
    condition_.keyWarning = key.warning;
}

bool XmlDeviceStore::FileChangedSinceLoad(bool& notRegular) {
    notRegular = false;
    struct stat now {};
    if (lstat(path_.c_str(), &now) != 0) {
        // gone since: nothing of anyone else's to keep; cannot be looked at: a load says why
        return errno != ENOENT || loaded_.exists;
    }
    if (!S_ISREG(now.st_mode)) {
        notRegular = true;
        return true;
    }
    if (!loaded_.exists || now.st_dev != loaded_.device || now.st_ino != loaded_.inode || now.st_size != loaded_.size ||
        !SameTime(now.st_mtim, loaded_.modified)) {
        return true;
    }
    // nothing has touched the inode since: no need to read it (the status change time cannot be set back)
    if (SameTime(now.st_ctim, loaded_.changed)) {
        return false;
    }
    // the same size and time can still hide another writer's bytes
    if (!loaded_.hashKnown && loaded_.hashInText) {
        std::string_view text = document_.Text();
        loaded_.hash = ContentHash::Of(text.data(), text.size());
        loaded_.hashKnown = true;
    }
    std::uint64_t hash = 0;
    bool changed = !loaded_.hashKnown || !HashRegularFile(path_, &now, &hash) || hash != loaded_.hash;
    if (!changed) {
        loaded_.changed = now.st_ctim;
    }
    return changed;
}

bool XmlDeviceStore::KeepBackupOfDamagedFile() {
    FileContents original = ReadRegularFile(path_, kMaxXmlFileSize, false);
    if (original.status != FileReadStatus::Read) {
        return false;
    }
    const std::string& bytes = original.bytes;
    condition_.backupMade = WriteFileAtomically(
        condition_.backupPath, Placement::Replace,
        [&bytes](int fd) { return WriteAll(fd, bytes.data(), bytes.size()); }, nullptr);
    return condition_.backupMade;
}

int XmlDeviceStore::Save() {
    condition_.reloaded = false;
    condition_.skipped.clear();
    condition_.saveProblem.clear();
    auto refuse = [this](std::string why) {
        condition_.saveProblem = std::move(why);
        return 0;
    };
    if (path_.empty()) {
        return refuse("no database file");
    }
    std::string refusal = DescribeSaveRefusal(condition_);
    if (!refusal.empty()) {
        return refuse(refusal);
    }
    FileLock lock;
    LockResult locked = lock.Acquire(lockPath_, options_.lockTimeout);
    if (!locked.Held()) {
        if (locked.status == LockStatus::Busy && !locked.HeldByOtherUser()) {
            return refuse(path_ + " is in use by another program (its lock file is held)");
        }
        return refuse(path_ + " cannot be written: " + locked.problem);
    }
    bool notRegular = false;
    if (FileChangedSinceLoad(notRegular)) {
        if (notRegular) {
            return refuse(path_ + " is not a regular file");
        }
        if (!replayable_) {
            return refuse(path_ +
                          " was changed by another program since it was opened; the changes made here since "
                          "cannot be applied to it again");
        }
        ReloadAndReapply();
        refusal = DescribeSaveRefusal(condition_);
        if (!refusal.empty()) {
            return refuse(refusal);
        }
        condition_.reloaded = true;
    }
    if (condition_.file.damaged && !condition_.backupMade && !KeepBackupOfDamagedFile()) {
        return refuse(path_ + " is damaged and no copy of it could be kept as " + condition_.backupPath);
    }
    struct stat existing {};
    bool replacing = lstat(path_.c_str(), &existing) == 0 && S_ISREG(existing.st_mode);
    // a new file goes to the folder's owner: a `sudo` run must not leave a database its user cannot read
    bool owned = replacing || NewFileLike(FolderOf(path_), S_IRUSR | S_IWUSR, existing);
    SavedFile saved;
    if (!SaveAtomically(path_, document_.Root(), options_.saveSink, owned ? &existing : nullptr, &saved)) {
        return refuse(path_ + " cannot be written: " + std::strerror(saved.error));
    }
    loaded_ = FileAsSeen(saved.info);
    struct stat placed {};
    if (lstat(path_.c_str(), &placed) == 0 && placed.st_ino == saved.info.st_ino) {
        loaded_.changed = placed.st_ctim;  // the rename may have moved it
    }
    loaded_.hash = saved.hash;
    loaded_.hashKnown = true;
    pending_.clear();
    replayable_ = true;
    return 1;
}

void XmlDeviceStore::Remember(PendingChange change) {
    if (!replaying_) {
        pending_.push_back(std::move(change));
    }
}

void XmlDeviceStore::ReloadAndReapply() {
    std::vector<PendingChange> changes = std::move(pending_);
    pending_.clear();
    bool agreed = condition_.newKeyAgreed;
    LoadDatabase();
    condition_.newKeyAgreed = agreed;
    replaying_ = true;

    // identifiers given since the load -> those they have now
    std::map<std::uint32_t, std::uint32_t> deviceIds;
    std::map<std::uint32_t, std::uint32_t> orgIds;
    std::set<std::uint32_t> skippedDevices;
    auto orgOf = [&orgIds](std::uint32_t id) {
        auto found = orgIds.find(id);
        return found == orgIds.end() ? id : found->second;
    };
    std::vector<PendingChange> kept;
    for (PendingChange& change : changes) {
        switch (change.kind) {
            case PendingChange::AddDevice: {
                DeviceRecord record = change.device;
                record.orgId = orgOf(record.orgId);
                SkippedChange skip{SkipReason::NotAdded, record.name, record.host, record.port};
                if (record.orgId != 0 && !FindById(Section(kOrgInfo), "ORG", record.orgId).IsValid()) {
                    skip.reason = SkipReason::OrganizationGone;
                } else if (FindDeviceByName(record.name) != 0) {
                    skip.reason = SkipReason::DuplicateName;
                } else if (record.ddnsFlag != 0 ? FindDeviceByDdns(record.host, record.ddnsHost, record.ddnsPort) != 0
                                                : FindDeviceByAddress(record.host, record.port) != 0) {
                    skip.reason = record.ddnsFlag != 0 ? SkipReason::DuplicateDdns : SkipReason::DuplicateAddress;
                } else if (AddDeviceElement(Section(kDevInfo), record, change.text.c_str()).IsValid()) {
                    deviceIds[change.id] = record.id;
                    change.id = record.id;
                    change.device.orgId = record.orgId;
                    ++condition_.encipheredPasswords;
                    kept.push_back(std::move(change));
                    break;
                }
                condition_.skipped.push_back(std::move(skip));
                skippedDevices.insert(change.id);
                break;
            }
            case PendingChange::CameraTypes: {
                if (skippedDevices.count(change.id) > 0) {
                    break;
                }
                auto found = deviceIds.find(change.id);
                std::uint32_t id = found == deviceIds.end() ? change.id : found->second;
                if (SetCameraTypes(id, change.types.data(), static_cast<std::int32_t>(change.types.size())) == 1) {
                    change.id = id;
                    kept.push_back(std::move(change));
                }
                break;
            }
            case PendingChange::AddOrganization: {
                std::uint32_t parent = orgOf(change.parentId);
                std::uint32_t id = AddOrganization(parent, change.text.c_str());
                if (id != 0) {
                    orgIds[change.id] = id;
                    change.id = id;
                    change.parentId = parent;
                    kept.push_back(std::move(change));
                    break;
                }
                std::uint32_t same = FindOrganizationByName(parent, change.text.c_str());
                if (same != 0) {
                    orgIds[change.id] = same;
                }
                condition_.skipped.push_back(SkippedChange{
                    same != 0 ? SkipReason::DuplicateOrganization : SkipReason::OrganizationGone, change.text, "", 0});
                break;
            }
            case PendingChange::RenameOrganization: {
                std::uint32_t id = orgOf(change.id);
                if (RenameOrganization(id, change.text.c_str()) == 1) {
                    change.id = id;
                    kept.push_back(std::move(change));
                } else {
                    condition_.skipped.push_back(SkippedChange{SkipReason::OrganizationGone, change.text, "", 0});
                }
                break;
            }
            case PendingChange::RemoveOrganization:
                change.id = orgOf(change.id);
                RemoveOrganization(change.id);
                kept.push_back(std::move(change));
                break;
        }
    }
    replaying_ = false;
    // kept in the new identifiers, should this Save fail and the file change once more
    pending_ = std::move(kept);
}

}  // namespace vantrel
