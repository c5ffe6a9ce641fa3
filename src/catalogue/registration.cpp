#include "catalogue/registration.h"

#include <string.h>

#include <cstring>

#include "catalogue/device_catalogue.h"
#include "records/text_field.h"
#include "store/device_store.h"
#include "store/duplicate_rule.h"
#include "store/store_text.h"

namespace vantrel {
namespace {

// Why the store did not take a device: its own reason when the key or the counter failed it.
std::string RefusalReason(AddOutcome outcome, DeviceStore& store) {
    const StoreCondition* condition = store.Condition();
    if (outcome == AddOutcome::StoreFailed && condition != nullptr) {
        if (!condition->keyProblem.empty()) {
            return condition->keyProblem;
        }
        if (!condition->refusal.empty()) {
            return condition->refusal;
        }
    }
    return DescribeAddOutcome(outcome);
}

// The first problem of the texts a record stores; the name's limit is checked by the caller.
std::string RecordTextProblem(const DeviceRecord& record) {
    struct Field {
        const char* text;
        const char* label;
        bool storedAsText;
    };
    const Field fields[] = {{record.name, "Device Name", true},
                            {record.host, "Address", true},
                            {record.username, "User Name", true},
                            {record.password, "Password", false},
                            {record.ddnsHost, "DDNS Host", true}};
    for (const Field& field : fields) {
        std::string problem = TextFieldProblem(std::string_view(field.text, strnlen(field.text, kTextFieldSize)),
                                               field.label, 0, field.storedAsText);
        if (!problem.empty()) {
            return problem;
        }
    }
    return std::string();
}

}  // namespace

std::string TextFieldProblem(std::string_view text, const char* field, std::size_t reservedBytes, bool storedAsText) {
    const char* character =
        storedAsText ? UnstorableCharacter(text) : UnstorableCharacter(text.find('"') != text.npos ? "\"" : "");
    if (character != nullptr) {
        return std::string(field) + " must not contain " + character + "!";
    }
    if (text.size() + reservedBytes > kMaxTextBytes) {
        return std::string(field) + (reservedBytes > 0
                                         ? " is too long! Together with the device number it must fit in 63 bytes."
                                         : " is too long! It must fit in 63 bytes.");
    }
    return std::string();
}

int DecimalDigits(int value) {
    int digits = 1;
    while (value >= 10) {
        value /= 10;
        ++digits;
    }
    return digits;
}

std::string RunningName(std::string_view base, int number) {
    return std::string(base) + std::to_string(number);
}

int FirstFreeNumber(std::string_view base, int count, const std::function<bool(const std::string&)>& taken) {
    int first = 1;
    // each taken name moves the start past it, so the walk ends after at most (taken names + 1) windows
    for (int n = first; n < first + count;) {
        if (taken(RunningName(base, n))) {
            first = n + 1;
        }
        ++n;
    }
    return first;
}

std::vector<RegistrationRow> UnregisteredRows(DeviceStore& store, const std::vector<RegistrationRow>& rows,
                                              std::size_t& leftOut) {
    std::vector<RegistrationRow> kept;
    leftOut = 0;
    for (const RegistrationRow& row : rows) {
        if (store.FindDeviceByAddress(row.address.c_str(), row.port & 0xFFFFu) != 0) {
            ++leftOut;
        } else {
            kept.push_back(row);
        }
    }
    return kept;
}

std::int32_t AddOneDevice(DeviceCatalogue& catalogue, DeviceStore& store, const DeviceRecord& record,
                          const std::int32_t* cameraTypes, std::string& reason) {
    reason = RecordTextProblem(record);
    if (!reason.empty()) {
        return 0;
    }
    if (record.cameras < 1 || record.cameras > static_cast<std::uint32_t>(kMaxChannels)) {
        reason = "the channel count must be between 1 and 16";
        return 0;
    }
    if (record.ddnsFlag == 0 && store.FindDeviceByAddress(record.host, record.port) != 0) {
        reason = "already registered";
        return 0;
    }
    AddRefusal refusal = AddRefusal::None;
    std::int32_t id = catalogue.AddDevice(record, refusal);
    if (id == 0) {
        reason = RefusalReason(refusal, store);
        return 0;
    }
    if (cameraTypes != nullptr) {
        catalogue.SetCameraTypes(id, cameraTypes, static_cast<std::int32_t>(record.cameras));
    }
    return id;
}

RegistrationReport RegisterDevices(DeviceCatalogue& catalogue, DeviceStore& store, const RegistrationDetails& details,
                                   const std::vector<RegistrationRow>& rows) {
    RegistrationReport report;
    int number = details.firstNumber;
    for (const RegistrationRow& row : rows) {
        std::string name = RunningName(details.name, number++);
        SkippedRow skip{name, row.address, row.port & 0xFFFFu, {}};
        if (!TextFieldProblem(name, "Device Name").empty()) {
            skip.reason = "name too long";
            report.skipped.push_back(std::move(skip));
            continue;
        }
        DeviceRecord record{};
        CopyText(record.name, name);
        CopyText(record.host, row.address);
        CopyText(record.username, details.userName);
        CopyText(record.password, details.password);
        record.port = row.port & 0xFFFFu;
        record.cameras = details.channels;
        record.orgId = details.orgId;
        if (AddOneDevice(catalogue, store, record, details.cameraTypes.data(), skip.reason) != 0) {
            ++report.registered;
        } else {
            report.skipped.push_back(std::move(skip));
        }
        explicit_bzero(record.password, sizeof record.password);
    }
    std::vector<SkippedRow> merged;
    report.saved = SaveChanges(&catalogue, store, report.saveProblem, &merged);
    report.registered -= static_cast<int>(merged.size());
    report.skipped.insert(report.skipped.end(), merged.begin(), merged.end());
    return report;
}

bool SaveChanges(DeviceCatalogue* catalogue, DeviceStore& store, std::string& problem,
                 std::vector<SkippedRow>* mergedSkips) {
    if (store.Save() == 0) {
        const StoreCondition* condition = store.Condition();
        problem = condition != nullptr && !condition->saveProblem.empty() ? condition->saveProblem
                                                                          : "the database cannot be written";
        return false;
    }
    problem.clear();
    const StoreCondition* saved = store.Condition();
    if (saved == nullptr) {
        return true;
    }
    if (saved->reloaded && catalogue != nullptr) {
        catalogue->Reload();
    }
    for (const SkippedChange& change : saved->skipped) {
        // organizations left out are not devices of this registration
        if (change.host.empty() || mergedSkips == nullptr) {
            continue;
        }
        mergedSkips->push_back(
            SkippedRow{change.name, change.host, change.port,
                       std::string(DescribeAddOutcome(change.reason)) + " (added by another program meanwhile)"});
    }
    return true;
}

std::string SummaryText(const RegistrationReport& report) {
    std::string text = report.registered == 1 ? "1 device was registered"
                                              : std::to_string(report.registered) + " devices were registered";
    if (!report.skipped.empty()) {
        text += report.skipped.size() == 1 ? ", 1 was skipped"
                                           : ", " + std::to_string(report.skipped.size()) + " were skipped";
    }
    return text + ".";
}

std::string SkippedText(const SkippedRow& row) {
    return row.name + " (" + row.address + ":" + std::to_string(row.port) + "): " + row.reason;
}

std::string DeviceChangeProblem(DeviceStore& store, std::uint32_t deviceId, const DeviceRecord& record) {
    if (std::string_view(record.name, strnlen(record.name, sizeof record.name)).find_first_not_of(" \t\r\n\v\f") ==
        std::string_view::npos) {
        return "Device Name is invalid!";
    }
    std::string problem = RecordTextProblem(record);
    if (!problem.empty()) {
        return problem;
    }
    if (record.cameras < 1 || record.cameras > static_cast<std::uint32_t>(kMaxChannels)) {
        return "The channel's number must be between 1 and 16!";
    }
    auto other = [deviceId](std::uint32_t found) { return found != 0 && found != deviceId; };
    if (other(store.FindDeviceByName(record.name))) {
        return "The name of this device has existed!";
    }
    if (record.ddnsFlag != 0 ? other(store.FindDeviceByDdns(record.host, record.ddnsHost, record.ddnsPort))
                             : other(store.FindDeviceByAddress(record.host, record.port))) {
        return record.ddnsFlag != 0 ? "The settings of DDNS has existed!"
                                    : "IP or domain name of this device has existed!";
    }
    return std::string();
}

std::string ChangeDevice(DeviceStore& store, std::uint32_t deviceId, DeviceRecord record,
                         const std::int32_t* cameraTypes) {
    std::string problem = DeviceChangeProblem(store, deviceId, record);
    if (!problem.empty()) {
        return problem;
    }
    if (record.password[0] == '\0') {
        DeviceRecord stored{};
        if (store.LoadDeviceRecord(deviceId, &stored) == 0) {
            return "The device is no longer in the database!";
        }
        std::memcpy(record.password, stored.password, sizeof record.password);
        explicit_bzero(stored.password, sizeof stored.password);
    }
    record.id = deviceId;
    int modified = store.ModifyDevice(deviceId, &record, sizeof record, nullptr);
    explicit_bzero(record.password, sizeof record.password);
    if (modified == 0) {
        return "The database did not take the change!";
    }
    if (cameraTypes != nullptr) {
        store.SetCameraTypes(deviceId, cameraTypes, static_cast<std::int32_t>(record.cameras));
    }
    return std::string();
}

std::map<std::int32_t, std::string> OrganizationPaths(const DeviceCatalogue& catalogue) {
    std::map<std::int32_t, std::string> paths;
    // an explicit stack: the depth of the tree comes from the file; the catalogue's tree holds no cycle
    std::vector<std::pair<std::int32_t, std::string>> pending{{0, std::string()}};
    while (!pending.empty()) {
        auto [id, path] = std::move(pending.back());
        pending.pop_back();
        const OrgEntry* entry = catalogue.FindOrganization(id);
        if (entry == nullptr || !paths.emplace(id, path).second) {
            continue;
        }
        for (std::int32_t child : entry->childIds) {
            const OrgEntry* childEntry = catalogue.FindOrganization(child);
            if (childEntry != nullptr) {
                pending.emplace_back(child, (path.empty() ? "" : path + "/") + childEntry->name);
            }
        }
    }
    return paths;
}

std::string OrganizationPathOf(const std::map<std::int32_t, std::string>& paths, std::uint32_t orgId) {
    auto found = paths.find(static_cast<std::int32_t>(orgId));
    return found != paths.end() ? found->second : "[" + std::to_string(orgId) + "]";
}

bool SplitOrganizationPath(std::string_view path, std::vector<std::string>& names) {
    names.clear();
    if (path.empty() || path == "/") {
        return true;
    }
    std::size_t start = 0;
    for (;;) {
        std::size_t slash = path.find('/', start);
        std::string_view name = path.substr(start, slash == path.npos ? path.npos : slash - start);
        if (name.empty()) {
            return false;
        }
        names.emplace_back(name);
        if (slash == path.npos) {
            return true;
        }
        start = slash + 1;
    }
}

std::uint32_t FindOrganizationPath(DeviceStore& store, const std::vector<std::string>& names, bool create,
                                   std::string& problem) {
    std::uint32_t id = 0;
    for (const std::string& name : names) {
        std::uint32_t child = store.FindOrganizationByName(id, name.c_str());
        if (child == 0 && create) {
            problem = TextFieldProblem(name, "Organization name");
            child = problem.empty() ? store.AddOrganization(id, name.c_str()) : 0;
        }
        if (child == 0) {
            if (problem.empty()) {
                problem = create ? "organization " + name + " cannot be added" : "no organization " + name;
            }
            return 0;
        }
        id = child;
    }
    return id;
}

}  // namespace vantrel
