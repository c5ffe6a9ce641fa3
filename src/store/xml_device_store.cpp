#include "store/xml_device_store.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "files/file_lock.h"
#include "files/file_paths.h"
#include "password/password.h"
#include "store/store_schema.h"

namespace vantrel {
namespace {

constexpr char kCipherPrefix[] = "v1:";

bool KeyFileMissing(const std::string& keyPath) {
    struct stat info {};
    return !keyPath.empty() && lstat(keyPath.c_str(), &info) != 0 && errno == ENOENT;
}

// Enciphered passwords among the devices of the document.
std::uint32_t CountEncipheredPasswords(XmlNodeRef devices) {
    std::uint32_t enciphered = 0;
    for (std::uint32_t i = 0; i < devices.ChildCount(); ++i) {
        XmlNodeRef device = devices.Child(i);
        if (device.NameIs(schema::kDev) &&
            device.FindAttribute(schema::kPassword).ValueView().substr(0, sizeof kCipherPrefix - 1) == kCipherPrefix) {
            ++enciphered;
        }
    }
    return enciphered;
}

}  // namespace

// What the replay of our changes needs of this store.
class XmlDeviceStore::Replayer : public ReplayTarget {
public:
    explicit Replayer(XmlDeviceStore& store) : store_(store) {}
    DeviceStore& Store() override { return store_; }
    bool OrganizationExists(std::uint32_t orgId) override {
        return store_.tree_.FindById(StoreSection::Organizations, orgId).IsValid();
    }
    bool AddDeviceAgain(DeviceRecord& record, const std::string& cipher) override {
        if (!store_.AddDeviceElement(store_.tree_.Section(StoreSection::Devices), record, cipher.c_str()).IsValid()) {
            return false;
        }
        ++store_.condition_.encipheredPasswords;
        return true;
    }

private:
    XmlDeviceStore& store_;
};

XmlDeviceStore::XmlDeviceStore(const std::string& databasePath, XmlStoreOptions options)
    : file_(databasePath, std::move(options)), key_(KeyFile::ForDatabase(databasePath)) {
    condition_.path = databasePath;
    condition_.keyPath = key_.Path();
    if (databasePath.empty()) {
        Adopt(LoadedDatabase{});
        return;
    }
    file_.RemoveLeftovers(key_.Path());
    Adopt(file_.Read());
}

XmlDeviceStore::~XmlDeviceStore() = default;

void XmlDeviceStore::Adopt(LoadedDatabase loaded) {
    if (loaded.document == nullptr) {
        loaded.document = std::make_unique<XmlDocument>();
        loaded.document->Reset();
    }
    file_.Loaded(loaded);
    document_ = std::move(loaded.document);
    tree_.Reset(document_->Root());
    const XmlLoadResult& report = loaded.report;
    condition_.file = report;
    condition_.outOfMemory = loaded.outOfMemory;
    condition_.tooDeep = report.status == FileReadStatus::Read && report.depth > kMaxDocumentDepth;
    condition_.backupPath = report.damaged ? file_.NextCopyPath() : std::string();
    condition_.backupMade = false;
    condition_.undecipherable.clear();
    condition_.encipheredPasswords = CountEncipheredPasswords(tree_.ExistingSection(StoreSection::Devices));
    condition_.keyMissing = condition_.encipheredPasswords > 0 && KeyFileMissing(key_.Path());
    KeyState key = key_.Check();
    condition_.keyProblem = key.Ready() || key.status == KeyStatus::Missing ? std::string() : key.problem;
    condition_.keyWarning = key.warning;
}

void XmlDeviceStore::ApplyPendingAgain() {
    Replayer replayer(*this);
    replay_.Replay(replayer, condition_.skipped);
}

std::string XmlDeviceStore::NoIdentifierReason() {
    if (tree_.IdentifiersUsedUp()) {
        return file_.Path() +
               " has given all its identifiers (its GLOBAL index is at 4294967295): nothing more "
               "can be added to it";
    }
    return file_.Path() + " has no usable GLOBAL element to give identifiers from";
}

bool XmlDeviceStore::Encrypt(const char* plain, char* cipher) {
    if (key_.Path().empty()) {
        return false;
    }
    struct stat info {};
    if (lstat(key_.Path().c_str(), &info) == 0 || errno != ENOENT) {
        return EncipherWithKey(plain, cipher);
    }
    // the key file is missing: a new key would leave the enciphered passwords unreadable for good
    if (condition_.encipheredPasswords > 0 && !condition_.newKeyAgreed) {
        condition_.keyMissing = true;
        return false;
    }
    // the key is made under the lock, so that no one takes its temporary file for a leftover
    FileLock lock;
    if (std::string why = file_.Lock(lock); !why.empty()) {
        condition_.refusal = why;
        condition_.keyProblem = "the key file " + key_.Path() + " cannot be made: " + why;
        return false;
    }
    return EncipherWithKey(plain, cipher);
}

bool XmlDeviceStore::EncipherWithKey(const char* plain, char* cipher) {
    if (EncryptStringEX(plain, cipher, 1, key_) == 1) {
        condition_.keyProblem.clear();
        return true;
    }
    if (!key_.State().Ready()) {
        condition_.keyProblem = key_.State().problem;
    }
    return false;
}

int XmlDeviceStore::PlaceholderA(std::uint32_t, std::uint32_t, std::uint32_t) {
    return 1;
}

int XmlDeviceStore::PlaceholderB(std::uint32_t, std::uint32_t, std::uint32_t) {
    return 1;
}

}  // namespace vantrel
