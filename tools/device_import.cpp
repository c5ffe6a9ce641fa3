#include "device_import.h"

#include <string.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>

#include "catalogue/device_catalogue.h"
#include "catalogue/registration.h"
#include "device_plan.h"
#include "records/text_field.h"
#include "store/device_store.h"

namespace vantrel {
namespace {

constexpr const char* kTool = "vantrel-devices";

// What the plan does to one row's device.
struct Action {
    const PlanRow* row = nullptr;
    std::uint32_t deviceId = 0;        // 0: a new device
    std::vector<std::string> changes;  // the fields that differ; none for an equal registered device
};

// The registered devices with their passwords deciphered; wiped when done.
class StoredDevices {
public:
    explicit StoredDevices(DeviceStore& store) {
        std::uint32_t count = store.CountDeviceRecords();
        std::vector<DeviceRecord> records(count);
        if (count > 0) {
            store.LoadDeviceRecords(records.data(), count * static_cast<std::uint32_t>(sizeof(DeviceRecord)));
        }
        for (DeviceRecord& record : records) {
            byId_[record.id] = record;
            explicit_bzero(record.password, sizeof record.password);
        }
    }
    ~StoredDevices() {
        for (auto& entry : byId_) {
            explicit_bzero(entry.second.password, sizeof entry.second.password);
        }
    }
    StoredDevices(const StoredDevices&) = delete;
    StoredDevices& operator=(const StoredDevices&) = delete;
    const DeviceRecord* Find(std::uint32_t id) const {
        auto found = byId_.find(id);
        return found == byId_.end() ? nullptr : &found->second;
    }

private:
    std::map<std::uint32_t, DeviceRecord> byId_;
};

bool ReadPlan(const std::string& path, std::string& text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "%s: %s cannot be read: %s\n", kTool, path.c_str(), std::strerror(errno));
        return false;
    }
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    struct stat info {};
    if (stat(path.c_str(), &info) == 0 && (info.st_mode & (S_IRGRP | S_IROTH)) != 0) {
        std::fprintf(stderr, "%s: warning: %s holds passwords and is readable by other users (chmod 600 %s)\n", kTool,
                     path.c_str(), path.c_str());
    }
    return true;
}

std::string JoinPath(const std::vector<std::string>& names) {
    std::string path;
    for (const std::string& name : names) {
        path += (path.empty() ? "" : "/") + name;
    }
    return path;
}

std::vector<std::string> Differences(DeviceStore& store, const DeviceRecord& stored, const PlanRow& row,
                                     const std::string& storedPath) {
    std::vector<std::string> changes;
    auto differs = [&changes](bool different, const char* field) {
        if (different) {
            changes.emplace_back(field);
        }
    };
    differs(row.name != stored.name, "name");
    differs(JoinPath(row.organization) != storedPath, "organization");
    differs(row.user != stored.username, "user");
    differs(!row.password.empty() && row.password != stored.password, "password");
    differs(row.channels != (stored.cameras & 0xFFFFu), "channels");
    std::int32_t types[kMaxChannels] = {};
    store.GetCameraTypes(stored.id, types, static_cast<std::int32_t>(row.channels));
    differs(!std::equal(types, types + row.channels, row.cameraTypes.begin()), "cameraTypes");
    return changes;
}

// The action of each row, or the rows' problems with the database (a name another device has).
bool DecideActions(DeviceStore& store, const DeviceCatalogue& catalogue, const std::vector<PlanRow>& rows,
                   const StoredDevices& stored, std::vector<Action>& actions, std::vector<PlanProblem>& problems) {
    std::map<std::int32_t, std::string> paths = OrganizationPaths(catalogue);
    for (const PlanRow& row : rows) {
        Action action{&row, store.FindDeviceByAddress(row.address.c_str(), row.port), {}};
        std::uint32_t owner = store.FindDeviceByName(row.name.c_str());
        if (owner != 0 && owner != action.deviceId) {
            const DeviceRecord* other = stored.Find(owner);
            problems.push_back({row.line, "the name " + row.name + " belongs to the device at " +
                                              (other != nullptr ? std::string(other->host) + ":" +
                                                                      std::to_string(other->port & 0xFFFFu)
                                                                : std::string("another address"))});
            continue;
        }
        const DeviceRecord* device = action.deviceId != 0 ? stored.Find(action.deviceId) : nullptr;
        if (device != nullptr) {
            action.changes = Differences(store, *device, row, OrganizationPathOf(paths, device->orgId));
        }
        actions.push_back(std::move(action));
    }
    return problems.empty();
}

void FillRecord(const PlanRow& row, std::uint32_t orgId, DeviceRecord& record) {
    auto copy = [](char(&field)[kTextFieldSize], const std::string& text) {
        std::memset(field, 0, sizeof field);
        CopyToField(field, sizeof field, text);
    };
    copy(record.name, row.name);
    copy(record.host, row.address);
    copy(record.username, row.user);
    if (!row.password.empty() || record.id == 0) {
        copy(record.password, row.password);
    }
    record.port = row.port;
    record.cameras = row.channels;
    record.orgId = orgId;
}

// One add or change; empty on success, else why not.
std::string Apply(DeviceStore& store, DeviceCatalogue& catalogue, const StoredDevices& stored, const Action& action) {
    std::string problem;
    std::uint32_t orgId = FindOrganizationPath(store, action.row->organization, true, problem);
    if (!problem.empty()) {
        return problem;
    }
    catalogue.ReloadOrganizations();
    DeviceRecord record = action.deviceId != 0 ? *stored.Find(action.deviceId) : DeviceRecord{};
    FillRecord(*action.row, orgId, record);
    if (action.deviceId == 0) {
        AddOneDevice(catalogue, store, record, action.row->cameraTypes.data(), problem);
    } else {
        problem = ChangeDevice(store, action.deviceId, record, action.row->cameraTypes.data());
        if (problem.empty() && store.SetDeviceOrganization(action.deviceId, orgId) == 0) {
            problem = "the device cannot be moved to its organization";
        }
    }
    explicit_bzero(record.password, sizeof record.password);
    return problem;
}

void PrintPlanned(const std::vector<Action>& actions, bool dryRun) {
    int added = 0;
    int changed = 0;
    for (const Action& action : actions) {
        std::string where = action.row->address + ":" + std::to_string(action.row->port);
        if (action.deviceId == 0) {
            ++added;
            std::printf("%s %s (%s)\n", dryRun ? "would add" : "added", action.row->name.c_str(), where.c_str());
        } else if (!action.changes.empty()) {
            ++changed;
            std::string fields;
            for (const std::string& field : action.changes) {
                fields += (fields.empty() ? "" : ", ") + field;
            }
            std::printf("%s %s (%s): %s\n", dryRun ? "would change" : "changed", action.row->name.c_str(),
                        where.c_str(), fields.c_str());
        }
    }
    std::printf("%d %s, %d %s, %zu unchanged\n", added, dryRun ? "to add" : "added", changed,
                dryRun ? "to change" : "changed", actions.size() - static_cast<std::size_t>(added + changed));
}

}  // namespace

int ImportPlanFile(DeviceStore& store, DeviceCatalogue& catalogue, const std::string& planPath,
                   const ImportOptions& options) {
    std::string text;
    if (!ReadPlan(planPath, text)) {
        return 1;
    }
    std::vector<PlanRow> rows;
    std::vector<PlanProblem> problems;
    ParsePlan(text, rows, problems);
    explicit_bzero(text.data(), text.size());
    StoredDevices stored(store);
    std::vector<Action> actions;
    if (problems.empty()) {
        DecideActions(store, catalogue, rows, stored, actions, problems);
    }
    if (!problems.empty()) {
        for (const PlanProblem& problem : problems) {
            std::fprintf(stderr, "%s: %s:%d: %s\n", kTool, planPath.c_str(), problem.line, problem.reason.c_str());
        }
        std::fprintf(stderr, "%s: nothing was written\n", kTool);
        return 1;
    }
    bool anything = std::any_of(actions.begin(), actions.end(),
                                [](const Action& a) { return a.deviceId == 0 || !a.changes.empty(); });
    if (options.dryRun || !anything) {
        PrintPlanned(actions, options.dryRun);
        return 0;
    }
    const StoreCondition* condition = store.Condition();
    if (condition != nullptr && condition->keyMissing) {
        if (!options.newKey) {
            std::fprintf(stderr,
                         "%s: the key file %s is missing, so no password can be stored; restore it, or give "
                         "--new-key to make a new one\n",
                         kTool, condition->keyPath.c_str());
            return 2;
        }
        store.AgreeToNewKey();
    }
    for (const Action& action : actions) {
        std::string problem =
            action.deviceId == 0 || !action.changes.empty() ? Apply(store, catalogue, stored, action) : std::string();
        if (!problem.empty()) {
            std::fprintf(stderr, "%s: %s:%d: %s; nothing was written\n", kTool, planPath.c_str(), action.row->line,
                         problem.c_str());
            return 2;
        }
    }
    std::string problem;
    std::vector<SkippedRow> merged;
    if (!SaveChanges(&catalogue, store, problem, &merged)) {
        std::fprintf(stderr, "%s: %s\n", kTool, problem.c_str());
        return 2;
    }
    PrintPlanned(actions, false);
    for (const SkippedRow& row : merged) {
        std::fprintf(stderr, "%s: not added: %s\n", kTool, SkippedText(row).c_str());
    }
    return 0;
}

}  // namespace vantrel
