// vantrel-devices: the registered devices of Vantrel's database on the command line.
#include <string.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/data_folder.h"
#include "catalogue/device_catalogue.h"
#include "catalogue/registration.h"
#include "device_import.h"
#include "discovery/found_export.h"
#include "paths/program_paths.h"
#include "records/text_field.h"
#include "store/device_store.h"
#include "tool_options.h"

namespace vantrel {
namespace {

constexpr const char* kTool = "vantrel-devices";
constexpr int kExitBadInput = 1;
constexpr int kExitDatabase = 2;

const char kUsage[] =
    "Usage: vantrel-devices [OPTION]... COMMAND [ARGUMENT]...\n"
    "Lists and changes the devices registered in Vantrel's database (Data.xml), in the data folder Vantrel\n"
    "itself uses.\n"
    "\n"
    "Commands:\n"
    "  list                   one line per device: id, name, address, port, channels, organization, user and\n"
    "                         whether its password can be read (never the password)\n"
    "  import PLAN.csv        adds the plan's devices that are not registered, changes those whose fields\n"
    "                         differ, leaves equal ones alone; organizations are created; a bad row writes\n"
    "                         nothing\n"
    "  remove NAME...         removes the devices with these names\n"
    "  move NAME... --to ORG  puts the devices into the organization ORG (a path such as North/Depot; \"\" or /\n"
    "                         for the top level)\n"
    "\n"
    "Options:\n"
    "  --data-dir DIR         the folder that holds Data.xml (else VANTREL_DATA_DIR, XML/ beside the program,\n"
    "                         or the user's data folder)\n"
    "  --json                 list as JSON\n"
    "  --csv                  list as CSV\n"
    "  --dry-run              import: print what would be added and changed, write nothing\n"
    "  --to ORG               move: the organization to move to\n"
    "  --new-key              make a new password key when the database's key file is missing (the passwords\n"
    "                         stored under the old key stay unreadable)\n"
    "  --help                 show this help and exit\n"
    "  --version              show the version and exit\n"
    "\n"
    "Plan: UTF-8 CSV with the header address,port,name,organization,user,password,channels,cameraTypes;\n"
    "cameraTypes holds one letter per channel, N normal camera, D speed dome (empty: all N); an empty password\n"
    "keeps a registered device's password.\n"
    "\n"
    "Exit status: 0 on success, 1 for a bad command line or plan, 2 when the database cannot be read or\n"
    "written.\n";

enum class Format { kTable, kJson, kCsv };

struct Command {
    std::string verb;
    std::vector<std::string> operands;
    Format format = Format::kTable;
    bool dryRun = false;
    bool newKey = false;
    bool toGiven = false;
    std::string to;
    std::string dataDir;
};

// The database of the chosen data folder with its catalogue loaded.
struct Session {
    std::unique_ptr<DeviceStore> store;
    std::unique_ptr<DeviceCatalogue> catalogue;
};

int Fail(int status, const std::string& problem) {
    std::fprintf(stderr, "%s: %s\n", kTool, problem.c_str());
    return status;
}

// false with problem set for a bad command line.
bool ParseCommandLine(const std::vector<std::string>& args, Command& command, std::string& problem) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        bool takesValue = arg == "--data-dir" || arg == "--to";
        if (takesValue && i + 1 >= args.size()) {
            problem = arg + " needs a value";
            return false;
        }
        if (arg == "--data-dir") {
            command.dataDir = args[++i];
        } else if (arg == "--to") {
            command.to = args[++i];
            command.toGiven = true;
        } else if (arg == "--json" || arg == "--csv") {
            command.format = arg == "--json" ? Format::kJson : Format::kCsv;
        } else if (arg == "--dry-run" || arg == "--new-key") {
            (arg == "--dry-run" ? command.dryRun : command.newKey) = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            problem = "unknown option " + arg;
            return false;
        } else if (command.verb.empty()) {
            command.verb = arg;
        } else {
            command.operands.push_back(arg);
        }
    }
    const std::set<std::string> verbs{"list", "import", "remove", "move"};
    if (command.verb.empty() || verbs.count(command.verb) == 0) {
        problem = command.verb.empty() ? "no command given" : "unknown command " + command.verb;
    } else if (command.verb == "list" && !command.operands.empty()) {
        problem = "list takes no arguments";
    } else if (command.verb == "import" && command.operands.size() != 1) {
        problem = "import takes one plan file";
    } else if ((command.verb == "remove" || command.verb == "move") && command.operands.empty()) {
        problem = command.verb + " needs at least one device name";
    } else if (command.verb == "move" && !command.toGiven) {
        problem = "move needs --to ORG";
    }
    return problem.empty();
}

int OpenSession(const Command& command, bool writing, Session& session) {
    DataFolderChoice choice =
        ChooseDataFolder(RequestFromEnvironment(PathsBesideProgram().programFolder, command.dataDir));
    if (!choice.problem.empty()) {
        return Fail(kExitDatabase, choice.problem);
    }
    if (writing && choice.source == DataFolderSource::kUserData) {
        DataFolderCreation created = CreateDataFolder(choice.folder);
        if (!created.Ready()) {
            return Fail(kExitDatabase, created.problem);
        }
    }
    session.store = OpenDeviceStore(choice.folder + kDatabaseFileName);
    std::string refusal = session.store->SaveRefusal();
    if (!refusal.empty()) {
        return Fail(kExitDatabase, refusal);
    }
    DeviceStore* store = session.store.get();
    session.catalogue =
        std::make_unique<DeviceCatalogue>(StoreAccess{[store] { return store; }, nullptr},
                                          [](const char* text) { std::fprintf(stderr, "%s: %s\n", kTool, text); });
    session.catalogue->LoadAll();
    return 0;
}

int Save(Session& session) {
    std::string problem;
    std::vector<SkippedRow> merged;
    if (!SaveChanges(session.catalogue.get(), *session.store, problem, &merged)) {
        return Fail(kExitDatabase, problem);
    }
    for (const SkippedRow& row : merged) {
        std::fprintf(stderr, "%s: not added: %s\n", kTool, SkippedText(row).c_str());
    }
    return 0;
}

std::string Padded(std::string text, std::size_t width) {
    text.resize(std::max(text.size(), width), ' ');
    return text;
}

void PrintDevices(const std::vector<std::vector<std::string>>& lines, Format format) {
    static const char* const kFields[] = {"id",       "name",         "address", "port",
                                          "channels", "organization", "user",    "passwordReadable"};
    std::string out;
    if (format == Format::kJson) {
        out = "[";
        for (std::size_t l = 0; l < lines.size(); ++l) {
            out += l == 0 ? "\n  {" : ",\n  {";
            for (std::size_t f = 0; f < 8; ++f) {
                out += std::string(f == 0 ? "\"" : ", \"") + kFields[f] + "\": ";
                bool number = f == 0 || f == 3 || f == 4 || f == 7;
                number ? void(out += lines[l][f]) : AppendJsonText(out, lines[l][f]);
            }
            out += "}";
        }
        out += lines.empty() ? "]\n" : "\n]\n";
    } else if (format == Format::kCsv) {
        out = "id,name,address,port,channels,organization,user,passwordReadable\r\n";
        for (const std::vector<std::string>& line : lines) {
            for (std::size_t f = 0; f < 8; ++f) {
                out += f == 0 ? "" : ",";
                AppendCsvField(out, line[f]);
            }
            out += "\r\n";
        }
    } else {
        std::vector<std::size_t> widths(8, 0);
        std::vector<std::vector<std::string>> all{
            {"ID", "NAME", "ADDRESS", "PORT", "CHANNELS", "ORGANIZATION", "USER", "PASSWORD READABLE"}};
        all.insert(all.end(), lines.begin(), lines.end());
        for (const auto& line : all) {
            for (std::size_t f = 0; f < 8; ++f) {
                widths[f] = std::max(widths[f], line[f].size());
            }
        }
        for (const auto& line : all) {
            for (std::size_t f = 0; f < 7; ++f) {
                out += Padded(line[f], widths[f] + 2);
            }
            out += line[7] + "\n";
        }
    }
    std::fputs(out.c_str(), stdout);
}

int List(Session& session, Format format) {
    const StoreCondition* condition = session.store->Condition();
    std::set<std::uint32_t> unreadable;
    if (condition != nullptr) {
        unreadable.insert(condition->undecipherable.begin(), condition->undecipherable.end());
    }
    std::map<std::int32_t, std::string> paths = OrganizationPaths(*session.catalogue);
    std::vector<std::vector<std::string>> lines;
    for (const auto& [id, device] : session.catalogue->DevicesById()) {
        lines.push_back({std::to_string(id), device->name, device->host, std::to_string(device->port & 0xFFFFu),
                         std::to_string(device->cameras & 0xFFFFu), OrganizationPathOf(paths, device->orgId),
                         device->username, unreadable.count(static_cast<std::uint32_t>(id)) > 0 ? "false" : "true"});
    }
    PrintDevices(lines, format);
    return 0;
}

// The ids of the devices named, in order; 0 with a message for a name that is not registered.
bool DevicesNamed(DeviceStore& store, const std::vector<std::string>& names, std::vector<std::uint32_t>& ids) {
    for (const std::string& name : names) {
        std::uint32_t id = store.FindDeviceByName(name.c_str());
        if (id == 0) {
            Fail(kExitBadInput, "no device is named " + name);
            return false;
        }
        if (std::find(ids.begin(), ids.end(), id) == ids.end()) {
            ids.push_back(id);
        }
    }
    return true;
}

int Remove(Session& session, const Command& command) {
    std::vector<std::uint32_t> ids;
    if (!DevicesNamed(*session.store, command.operands, ids)) {
        return kExitBadInput;
    }
    for (std::uint32_t id : ids) {
        session.store->RemoveDevice(id, nullptr);
    }
    int status = Save(session);
    if (status == 0) {
        std::printf("removed %zu device%s\n", ids.size(), ids.size() == 1 ? "" : "s");
    }
    return status;
}

int Move(Session& session, const Command& command) {
    std::vector<std::uint32_t> ids;
    std::vector<std::string> names;
    if (!SplitOrganizationPath(command.to, names)) {
        return Fail(kExitBadInput, "the organization path " + command.to + " has an empty name");
    }
    if (!DevicesNamed(*session.store, command.operands, ids)) {
        return kExitBadInput;
    }
    std::string problem;
    std::uint32_t orgId = FindOrganizationPath(*session.store, names, false, problem);
    if (!problem.empty()) {
        return Fail(kExitBadInput, problem);
    }
    for (std::uint32_t id : ids) {
        if (session.store->SetDeviceOrganization(id, orgId) == 0) {
            return Fail(kExitDatabase, "the database did not take the move");
        }
    }
    int status = Save(session);
    if (status == 0) {
        std::printf("moved %zu device%s\n", ids.size(), ids.size() == 1 ? "" : "s");
    }
    return status;
}

int Run(int argc, char* argv[]) {
    std::vector<std::string> args(argv + 1, argv + argc);
    for (const std::string& arg : args) {
        if (HandleInfoOption(arg, kTool, kUsage)) {
            return 0;
        }
    }
    Command command;
    std::string problem;
    if (!ParseCommandLine(args, command, problem)) {
        return ReportUsageProblem(kTool, problem);
    }
    Session session;
    if (int status = OpenSession(command, command.verb != "list", session)) {
        return status;
    }
    if (command.verb == "list") {
        return List(session, command.format);
    }
    if (command.verb == "remove") {
        return Remove(session, command);
    }
    if (command.verb == "move") {
        return Move(session, command);
    }
    return ImportPlanFile(*session.store, *session.catalogue, command.operands[0],
                          ImportOptions{command.dryRun, command.newKey});
}

}  // namespace
}  // namespace vantrel

int main(int argc, char* argv[]) {
    return vantrel::Run(argc, argv);
}
