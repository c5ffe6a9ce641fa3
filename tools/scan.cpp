// vantrel-scan: a device search without a window.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "discovery/found_export.h"
#include "discovery/search_session.h"
#include "records/records.h"
#include "store/registered_reader.h"
#include "tool_options.h"

namespace vantrel {
namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kTool = "vantrel-scan";

const char kUsage[] =
    "Usage: vantrel-scan [OPTION]...\n"
    "Searches the local network for video devices the way Vantrel's search window does: broadcasts the\n"
    "search probe to UDP port 5050 on every network interface, collects the replies and lists each device\n"
    "once.\n"
    "\n"
    "  --time SECONDS      collect replies this long after the first probe (3)\n"
    "  --probes N          send the probe N times (3)\n"
    "  --interval MS       wait this long between probes (500)\n"
    "  --network NET       also search NET beyond this network: a network such as 10.1.2.0/24 gets a directed\n"
    "                      broadcast, a range such as 10.1.2.10-10.1.2.50 (or one address) gets the probe at\n"
    "                      each address, 2000 a second; may be repeated; the search then lasts at least until\n"
    "                      the last address was probed and a second has passed\n"
    "  --database PATH     mark the devices registered in this Data.xml (read only)\n"
    "  --json              print the devices as JSON\n"
    "  --csv               print the devices as CSV\n"
    "  --stats             print counts and timing to standard error\n"
    "  --help              show this help and exit\n"
    "  --version           show the version and exit\n"
    "\n"
    "Exit status: 0 when the search ran (even if nothing answered), 1 for a bad command line or a database\n"
    "that cannot be read, 2 when UDP port 5050 cannot be opened or no probe could be sent.\n";

enum class Format { kTable, kJson, kCsv };

int Usage(const std::string& problem) {
    return ReportUsageProblem(kTool, problem);
}

bool ParseSeconds(const std::string& text, double& seconds) {
    char* end = nullptr;
    seconds = std::strtod(text.c_str(), &end);
    return !text.empty() && *end == '\0' && std::isfinite(seconds) && seconds >= 0 && seconds <= 86400;
}

std::int64_t RealtimeNs() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return std::int64_t{now.tv_sec} * 1000000000 + now.tv_nsec;
}

// The registered devices of a Data.xml, by host and port and by name; false with the reason when the file
// cannot be read or is one the store would not save over.
bool LoadRegistered(const std::string& path, RegisteredDevices& registered, std::string& problem) {
    const RegisteredRead read =
        ReadRegisteredDevices(path, [&registered](std::string_view host, std::uint32_t port, std::string_view name) {
            registered.Add(host, port);
            registered.AddName(name);
        });
    problem = read.problem;
    return read.Read();
}

void PrintTable(const std::vector<FoundRow>& rows, bool withRegistered) {
    std::printf("%-6s %-16s %-12s %-16s %s%s\n", "NO", "IP Address", "Port Number", "Subnet Mask", "Default Gateway",
                withRegistered ? "  Registered" : "");
    for (const FoundRow& row : rows) {
        const std::string gateway = GatewayText(row.device);
        if (withRegistered) {
            std::printf("%-6u %-16s %-12s %-16s %-15s  %s\n", row.number, row.device.addressText,
                        PortText(row.device).c_str(), SubnetMaskText(row.device).c_str(), gateway.c_str(),
                        row.registered ? "yes" : "no");
        } else {
            std::printf("%-6u %-16s %-12s %-16s %s\n", row.number, row.device.addressText, PortText(row.device).c_str(),
                        SubnetMaskText(row.device).c_str(), gateway.c_str());
        }
    }
}

bool HasRanges(const std::vector<SearchTarget>& targets) {
    for (const SearchTarget& target : targets) {
        if (target.kind == SearchTarget::Kind::kUnicastRange) {
            return true;
        }
    }
    return false;
}

int Run(int argc, char** argv) {
    double seconds = 3;
    unsigned long long probes = 3;
    unsigned long long intervalMs = 500;
    unsigned long long workUs = 0;
    unsigned long long receiveBuffer = UdpBroadcastEndpoint::kSocketReceiveBuffer;
    Format format = Format::kTable;
    bool stats = false;
    std::vector<SearchTarget> targets;
    std::string databasePath;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (HandleInfoOption(option, kTool, kUsage)) {
            return 0;
        }
        if (option == "--json" || option == "--csv") {
            const Format wanted = option == "--json" ? Format::kJson : Format::kCsv;
            if (format != Format::kTable && format != wanted) {
                return Usage("--json and --csv cannot be combined");
            }
            format = wanted;
            continue;
        }
        if (option == "--stats") {
            stats = true;
            continue;
        }
        if (option != "--time" && option != "--probes" && option != "--interval" && option != "--network" &&
            option != "--database" && option != "--work-per-reply-us" && option != "--receive-buffer") {
            return Usage("unknown option: " + option);
        }
        if (i + 1 >= argc) {
            return Usage("missing value for " + option);
        }
        const std::string value = argv[++i];
        bool ok = true;
        if (option == "--time") {
            ok = ParseSeconds(value, seconds);
        } else if (option == "--probes") {
            ok = ParseUnsigned(value, 1000, probes) && probes > 0;
        } else if (option == "--interval") {
            ok = ParseUnsigned(value, 60000, intervalMs);
        } else if (option == "--network") {
            SearchTarget target;
            std::string problem;
            if (!ParseSearchTarget(value, target, problem)) {
                return Usage("invalid value for --network: " + problem);
            }
            targets.push_back(target);
        } else if (option == "--database") {
            ok = !value.empty();
            databasePath = value;
        } else if (option == "--work-per-reply-us") {  // measurements only
            ok = ParseUnsigned(value, 1000000, workUs);
        } else if (option == "--receive-buffer") {  // measurements only
            ok = ParseUnsigned(value, 1u << 30, receiveBuffer) && receiveBuffer > 0;
        }
        if (!ok) {
            return Usage("invalid value for " + option + ": " + value);
        }
    }

    std::shared_ptr<RegisteredDevices> registered;
    if (!databasePath.empty()) {
        registered = std::make_shared<RegisteredDevices>();
        std::string problem;
        if (!LoadRegistered(databasePath, *registered, problem)) {
            std::fprintf(stderr, "%s: %s\n", kTool, problem.c_str());
            return 1;
        }
    }

    SearchSessionOptions options;
    options.requestedReceiveBuffer = static_cast<int>(receiveBuffer);
    options.probeDelaysMs.clear();
    const double timeMs = seconds * 1000;
    for (unsigned long long n = 0; n < probes; ++n) {
        const unsigned long long due = n * intervalMs;
        // probes that would leave after the collection time are not sent
        if (n > 0 && static_cast<double>(due) >= timeMs) {
            break;
        }
        options.probeDelaysMs.push_back(static_cast<int>(due));
    }
    SearchSession session(options);
    std::string problem;
    if (!session.SetTargets(targets, problem)) {
        return Usage("invalid value for --network: " + problem);
    }
    session.SetRegistered(registered);
    if (workUs > 0) {
        // stands in for a slow consumer when measuring how many replies the socket buffer keeps
        const auto work = std::chrono::microseconds(workUs);
        session.SetDatagramObserver([work](const ReceivedDatagram&) {
            const auto until = Clock::now() + work;
            while (Clock::now() < until) {
            }
        });
    }

    const std::int64_t startNs = RealtimeNs();
    const Clock::time_point start = Clock::now();
    if (!session.Start()) {
        const SessionStatus status = session.Status();
        std::fprintf(stderr, "%s: %s\n", kTool, status.problem.c_str());
        if (status.openError == EADDRINUSE) {
            std::fprintf(stderr,
                         "%s: another program (perhaps Vantrel) is using UDP port 5050; close it and try again.\n",
                         kTool);
        }
        return 2;
    }
    const int socketReceiveBuffer = session.SocketReceiveBuffer();
    std::this_thread::sleep_until(start + std::chrono::microseconds(static_cast<long long>(seconds * 1e6)));
    // a sweep over ranges may outlast the collection time; the search then ends with the round
    while (HasRanges(targets) && session.Status().state == SearchState::kSearching) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    session.Close();

    const SessionStatus status = session.Status();
    if (status.probesSent == 0) {
        std::fprintf(stderr, "%s: the search probe could not be sent: %s\n", kTool,
                     DescribeSendError(status.sendError).c_str());
        return 2;
    }
    const std::vector<FoundRow> rows = session.Rows();
    switch (format) {
        case Format::kTable:
            PrintTable(rows, registered != nullptr);
            break;
        case Format::kJson:
            std::fputs(FoundRowsToJson(rows, status.probesSent).c_str(), stdout);
            break;
        case Format::kCsv:
            std::fputs(FoundRowsToCsv(rows, status.probesSent).c_str(), stdout);
            break;
    }
    if (status.listedLimitReached) {
        std::fprintf(stderr, "%s: the list is full at %zu devices; %llu more devices answered and are not listed\n",
                     kTool, status.listedLimit, static_cast<unsigned long long>(status.notListed));
    }
    if (stats) {
        std::int64_t lastNs = startNs;
        for (const FoundRow& row : rows) {
            lastNs = std::max(lastNs, row.firstReplyNs);
        }
        std::fprintf(stderr,
                     "%s: %zu devices listed; %llu datagrams, %llu rejected, %llu duplicates; last listed "
                     "%.1f ms after the first probe; socket receive buffer %d bytes; %llu from an earlier round, "
                     "%u of %u probes sent, %llu sends failed\n",
                     kTool, rows.size(), static_cast<unsigned long long>(status.datagrams),
                     static_cast<unsigned long long>(status.Rejected()),
                     static_cast<unsigned long long>(status.repeats), static_cast<double>(lastNs - startNs) / 1e6,
                     socketReceiveBuffer, static_cast<unsigned long long>(status.earlierRound), status.probesSent,
                     status.probesPlanned, static_cast<unsigned long long>(status.sendsFailed));
    }
    return 0;
}

}  // namespace
}  // namespace vantrel

int main(int argc, char** argv) {
    return vantrel::Run(argc, argv);
}
