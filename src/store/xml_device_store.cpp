#include "store/xml_device_store.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <system_error>

#include "files/file_lock.h"
#include "files/file_paths.h"
#include "password/password.h"
#include "store_schema.h"
#include "xml_device_store_impl.h"

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
class XmlDeviceStore::Impl::Replayer : public ReplayTarget {
public:
    explicit Replayer(Impl& store) : store_(store) {}
    DeviceStore& Store() override { return store_.facade_; }
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
    Impl& store_;
};

XmlDeviceStore::Impl::Impl(DeviceStore& facade, const std::string& databasePath, XmlStoreOptions options)
    : facade_(facade), file_(databasePath, std::move(options)), key_(KeyFile::ForDatabase(databasePath)) {
    condition_.path = databasePath;
    condition_.keyPath = key_.Path();
    if (databasePath.empty()) {
        Adopt(LoadedDatabase{});
        return;
    }
    file_.RemoveLeftovers(key_.Path());
    Adopt(file_.Read());
}

void XmlDeviceStore::Impl::Adopt(LoadedDatabase loaded) {
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
    verbatim_ = XmlVerbatim();
}

XmlDeviceStore::Impl::~Impl() {
    StopPreparing();
}

void XmlDeviceStore::Impl::PrepareSaves() {
    try {
        // one thread: the other core is left to the window
        preparing_ = std::thread([this] {
            try {
                FindVerbatimDevices(&stopPreparing_, false);
            } catch (...) {
                // nothing found: the first save looks
            }
        });
    } catch (const std::system_error&) {
        // no thread to be had: the first save looks for them
    }
}

void XmlDeviceStore::Impl::StopPreparing() {
    if (preparing_.joinable()) {
        stopPreparing_ = true;
        preparing_.join();
        stopPreparing_ = false;
    }
}

void XmlDeviceStore::Impl::FindVerbatimDevices(const std::atomic<bool>* stop, bool twoThreads) {
    // a small database saves quickly as it is
    constexpr std::uint32_t kWorthFrom = 256;
    XmlNodeRef devices = tree_.ExistingSection(StoreSection::Devices);
    if (devices.ChildCount() >= kWorthFrom) {
        verbatim_.Extend(document_->Text(), devices, XmlLayout::Indented, XmlLineEnd::CrLf, stop, twoThreads);
    }
}

void XmlDeviceStore::Impl::ApplyPendingAgain() {
    Replayer replayer(*this);
    replay_.Replay(replayer, condition_.skipped);
}

std::string XmlDeviceStore::Impl::NoIdentifierReason() {
    if (tree_.IdentifiersUsedUp()) {
        return file_.Path() +
               " has given all its identifiers (its GLOBAL index is at 4294967295): nothing more "
               "can be added to it";
    }
    return file_.Path() + " has no usable GLOBAL element to give identifiers from";
}

bool XmlDeviceStore::Impl::Encrypt(const char* plain, char* cipher) {
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

bool XmlDeviceStore::Impl::EncipherWithKey(const char* plain, char* cipher) {
    if (EncryptStringEX(plain, cipher, 1, key_) == 1) {
        condition_.keyProblem.clear();
        return true;
    }
    if (!key_.State().Ready()) {
        condition_.keyProblem = key_.State().problem;
    }
    return false;
}

XmlDeviceStore::XmlDeviceStore(const std::string& databasePath, XmlStoreOptions options)
    : impl_(std::make_unique<Impl>(*this, databasePath, std::move(options))) {}

XmlDeviceStore::~XmlDeviceStore() = default;

XmlDeviceStore::Impl& XmlDeviceStore::Ready() {
    impl_->StopPreparing();
    return *impl_;
}

void XmlDeviceStore::PrepareSaves() {
    Ready().PrepareSaves();
}

int XmlDeviceStore::Save() {
    return Ready().Save();
}
std::uint32_t XmlDeviceStore::FindDeviceByAddress(const char* host, std::uint32_t port) {
    return Ready().FindDeviceByAddress(host, port);
}
std::uint32_t XmlDeviceStore::CountDevices() {
    return Ready().CountDevices();
}
std::uint32_t XmlDeviceStore::FindDeviceByName(const char* name) {
    return Ready().FindDeviceByName(name);
}
int XmlDeviceStore::LoadDevices(DeviceRecord* records, std::uint32_t size) {
    return Ready().LoadDevices(records, size);
}
int XmlDeviceStore::LoadChannelEntries(std::uint32_t deviceId, ChannelEntry* entries, std::uint32_t capacity) {
    return Ready().LoadChannelEntries(deviceId, entries, capacity);
}
int XmlDeviceStore::AddDevices(DeviceRecord* records, std::uint32_t size) {
    return Ready().AddDevices(records, size);
}
int XmlDeviceStore::PlaceholderA(std::uint32_t, std::uint32_t, std::uint32_t) {
    return 1;
}
int XmlDeviceStore::RemoveDevice(std::uint32_t deviceId, ChangeNotifier* notifier) {
    return Ready().RemoveDevice(deviceId, notifier);
}
int XmlDeviceStore::PlaceholderB(std::uint32_t, std::uint32_t, std::uint32_t) {
    return 1;
}
int XmlDeviceStore::ModifyDevice(std::uint32_t deviceId, const DeviceRecord* record, std::uint32_t size,
                                 ChangeNotifier* notifier) {
    return Ready().ModifyDevice(deviceId, record, size, notifier);
}
std::uint32_t XmlDeviceStore::GetChannelId(std::uint32_t deviceId, std::uint32_t channel) {
    return Ready().GetChannelId(deviceId, channel);
}
std::uint32_t XmlDeviceStore::FindDeviceByDdns(const char* host, const char* ddnsHost, std::uint32_t ddnsPort) {
    return Ready().FindDeviceByDdns(host, ddnsHost, ddnsPort);
}
int XmlDeviceStore::GetEntryIds(std::uint32_t deviceId, std::uint32_t* ids, std::uint32_t count) {
    return Ready().GetEntryIds(deviceId, ids, count);
}
int XmlDeviceStore::SetEntryName(std::uint32_t id, const ChannelEntry* entry) {
    return Ready().SetEntryName(id, entry);
}
int XmlDeviceStore::SetCameraTypes(std::uint32_t deviceId, const std::int32_t* types, std::int32_t count) {
    return Ready().SetCameraTypes(deviceId, types, count);
}
int XmlDeviceStore::GetCameraTypes(std::uint32_t deviceId, std::int32_t* types, std::int32_t count) {
    return Ready().GetCameraTypes(deviceId, types, count);
}
std::uint32_t XmlDeviceStore::CountImages() {
    return Ready().CountImages();
}
int XmlDeviceStore::LoadImages(ImageRecord* records, std::uint32_t capacity) {
    return Ready().LoadImages(records, capacity);
}
int XmlDeviceStore::AddImages(ImageRecord* records, std::uint32_t size) {
    return Ready().AddImages(records, size);
}
int XmlDeviceStore::RemoveImage(const std::uint32_t* imageId) {
    return Ready().RemoveImage(imageId);
}
int XmlDeviceStore::ModifyImage(std::uint32_t unused, const ImageRecord* record) {
    return Ready().ModifyImage(unused, record);
}
int XmlDeviceStore::LoadMapTree(std::vector<MapItem>& items) {
    return Ready().LoadMapTree(items);
}
int XmlDeviceStore::SaveMapTree(const MapEntriesByParent& entries) {
    return Ready().SaveMapTree(entries);
}
int XmlDeviceStore::LoadDeviceTree(DeviceTreeRecord* records, std::uint32_t capacity) {
    return Ready().LoadDeviceTree(records, capacity);
}
std::uint32_t XmlDeviceStore::CountChildOrgs(std::uint32_t parentId) {
    return Ready().CountChildOrgs(parentId);
}
int XmlDeviceStore::LoadChildOrgs(std::uint32_t parentId, OrgRecord* records, std::uint32_t size) {
    return Ready().LoadChildOrgs(parentId, records, size);
}
int XmlDeviceStore::RenameOrganization(std::uint32_t orgId, const char* name) {
    return Ready().RenameOrganization(orgId, name);
}
std::uint32_t XmlDeviceStore::AddOrganization(std::uint32_t parentId, const char* name) {
    return Ready().AddOrganization(parentId, name);
}
int XmlDeviceStore::RemoveOrganization(std::uint32_t orgId) {
    return Ready().RemoveOrganization(orgId);
}
int XmlDeviceStore::GetOrganizationItemIds(std::uint32_t orgId, std::uint32_t* ids, std::uint32_t capacity) {
    return Ready().GetOrganizationItemIds(orgId, ids, capacity);
}
std::uint32_t XmlDeviceStore::FindOrganizationByName(std::uint32_t parentId, const char* name) {
    return Ready().FindOrganizationByName(parentId, name);
}

const StoreCondition* XmlDeviceStore::Condition() const {
    return &impl_->Condition();
}
std::string XmlDeviceStore::SaveRefusal() const {
    return DescribeSaveRefusal(impl_->Condition());
}
void XmlDeviceStore::AgreeToNewKey() {
    Ready().AgreeToNewKey();
}
std::uint32_t XmlDeviceStore::CountDeviceRecords() {
    return Ready().CountDeviceRecords();
}
int XmlDeviceStore::LoadDeviceRecords(DeviceRecord* records, std::uint32_t size) {
    return Ready().LoadDeviceRecords(records, size);
}
int XmlDeviceStore::LoadDeviceRecord(std::uint32_t deviceId, DeviceRecord* record) {
    return Ready().LoadDeviceRecord(deviceId, record);
}
int XmlDeviceStore::SetDeviceOrganization(std::uint32_t deviceId, std::uint32_t orgId) {
    return Ready().SetDeviceOrganization(deviceId, orgId);
}
const std::string& XmlDeviceStore::KeyPath() const {
    return impl_->KeyPath();
}

}  // namespace vantrel
