// vantrel-scan: a device search without a window.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
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

#include "discovery/address_probe.h"
#include "discovery/found_export.h"
#include "discovery/search_session.h"
#include "records/records.h"
#include "store/device_store.h"
#include "tool_options.h"

namespace vantrel {
namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kTool = "vantrel-scan";

const char kUsage[] =
    "Usage: vantrel-scan [OPTION]...\n"
    "Searches the local network for video devices the way Vantrel's search window does: broadcasts the\n"
    "search probe to UDP port 5050 and an ONVIF WS-Discovery probe to 239.255.255.250 port 3702 on every\n"
    "network interface, collects the replies and lists each device once.\n"
    "\n"
    "  --time SECONDS      collect replies this long after the first probe (3)\n"
    "  --probes N          send the probe N times (3)\n"
    "  --interval MS       wait this long between probes (500)\n"
    "  --network NET       also search NET beyond this network: a network such as 10.1.2.0/24 gets a directed\n"
    "                      broadcast, a range such as 10.1.2.10-10.1.2.50 (or one address) gets the probes at\n"
    "                      each address, 2000 a second; may be repeated; the search then lasts at least until\n"
    "                      the last address was probed and a second has passed\n"
    "  --no-onvif          search with the native probe only\n"
    "  --probe ADDRESS     send both probes to ADDRESS only and say what came back (a reply, ICMP\n"
    "                      unreachable, or nothing within --time, 2 s by default)\n"
    "  --oui PATH          makers by MAC prefix from this file (/usr/share/ieee-data/oui.txt)\n"
    "  --database PATH     mark the devices registered in this Data.xml (read only)\n"
    "  --json              print the devices as JSON\n"
    "  --csv               print the devices as CSV\n"
    "  --stats             print counts, timing and per-adapter statistics to standard error\n"
    "  --help              show this help and exit\n"
    "  --version           show the version and exit\n"
    "\n"
    "Problems that may hide devices (a strict reverse-path filter, no IPv4 adapter, only virtual adapters)\n"
    "are printed to standard error as warnings.\n"
    "\n"
    "Exit status: 0 when the search ran (even if nothing answered), 1 for a bad command line or a database\n"
    "that cannot be read, 2 when UDP port 5050 cannot be opened or no probe could be sent; with --probe,\n"
    "0 when the address answered either probe, 3 when it answered neither.\n";

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

// The registered devices of a Data.xml, by host and port and by name; false with a message when the file
// cannot be read (the store itself would take a missing file for an empty database).
bool LoadRegistered(const std::string& path, RegisteredDevices& registered, std::string& problem) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        problem = "cannot read the database " + path + ": " + std::strerror(errno);
        return false;
    }
    ::close(fd);
    const std::unique_ptr<DeviceStore> store = OpenDeviceStore(path);
    const std::uint32_t count = store->CountDevices();
    std::vector<DeviceRecord> records(count);
    if (count > 0 &&
        store->LoadDevices(records.data(), count * static_cast<std::uint32_t>(sizeof(DeviceRecord))) != 1) {
        problem = "cannot load the devices of " + path;
        return false;
    }
    for (DeviceRecord& record : records) {
        registered.Add(record.host, record.port);
        registered.AddName(record.name);
        std::memset(record.password, 0, sizeof record.password);
    }
    return true;
}

struct ScanOptions {
    double seconds = 3;
    bool timeGiven = false;
    unsigned long long probes = 3;
    unsigned long long intervalMs = 500;
    unsigned long long workUs = 0;
    unsigned long long receiveBuffer = UdpBroadcastEndpoint::kSocketReceiveBuffer;
    Format format = Format::kTable;
    bool stats = false;
    bool onvif = true;
    std::vector<SearchTarget> targets;
    std::string databasePath;
    std::string probeAddress;
    std::string ouiPath = SearchSessionOptions().ouiPath;
};

bool AnyOnvif(const std::vector<FoundRow>& rows) {
    return std::any_of(rows.begin(), rows.end(), [](const FoundRow& row) { return row.Answered(kProtocolOnvif); });
}

void PrintTable(const std::vector<FoundRow>& rows, bool withRegistered) {
    // the ONVIF columns appear only when a device answered ONVIF, so a native-only listing keeps its layout
    const bool withOnvif = AnyOnvif(rows);
    std::printf("%-6s %-16s %-12s %-16s %s%s%s\n", "NO", "IP Address", "Port Number", "Subnet Mask",
                withRegistered || withOnvif ? "Default Gateway " : "Default Gateway",
                withRegistered ? " Registered" : "", withOnvif ? "  Protocols     Name" : "");
    for (const FoundRow& row : rows) {
        char text[160];
        std::snprintf(text, sizeof text, "%-6u %-16s %-12s %-16s %-15s", row.number, row.device.addressText,
                      row.portKnown ? PortText(row.device).c_str() : "-",
                      row.portKnown ? SubnetMaskText(row.device).c_str() : "-",
                      row.portKnown ? GatewayText(row.device).c_str() : "-");
        std::string line = text;
        if (withRegistered) {
            line += std::string("  ") + (row.registered ? "yes" : "no ");
        }
        if (withOnvif) {
            const char* protocols =
                row.Answered(kProtocolNative) ? (row.Answered(kProtocolOnvif) ? "native,onvif" : "native") : "onvif";
            std::snprintf(text, sizeof text, "  %-13s %s", protocols, row.name.c_str());
            line += text;
        }
        while (!line.empty() && line.back() == ' ') {
            line.pop_back();
        }
        std::printf("%s\n", line.c_str());
    }
}

void PrintStatistics(const SessionStatus& status, const std::vector<FoundRow>& rows, std::int64_t startNs,
                     int socketReceiveBuffer) {
    std::int64_t lastNs = startNs;
    for (const FoundRow& row : rows) {
        lastNs = std::max(lastNs, row.firstReplyNs);
    }
    std::fprintf(stderr,
                 "%s: %zu devices listed; %llu datagrams, %llu rejected, %llu duplicates; last listed "
                 "%.1f ms after the first probe; socket receive buffer %d bytes; %llu from an earlier round, "
                 "%u of %u probes sent, %llu sends failed\n",
                 kTool, rows.size(), static_cast<unsigned long long>(status.datagrams),
                 static_cast<unsigned long long>(status.Rejected()), static_cast<unsigned long long>(status.repeats),
                 static_cast<double>(lastNs - startNs) / 1e6, socketReceiveBuffer,
                 static_cast<unsigned long long>(status.earlierRound), status.probesSent, status.probesPlanned,
                 static_cast<unsigned long long>(status.sendsFailed));
    for (const AdapterStatistics& adapter : status.adapters) {
        std::string rejected;
        for (std::size_t r = 0; r < kRejectReasonCount; ++r) {
            if (adapter.rejected[r] > 0) {
                rejected += std::string(rejected.empty() ? " (" : ", ") +
                            DescribeRejectReason(static_cast<RejectReason>(r)) + " " +
                            std::to_string(adapter.rejected[r]);
            }
        }
        std::fprintf(
            stderr,
            "%s: adapter %s: probes sent %llu native, %llu WS-Discovery; replies received %llu, accepted "
            "%llu, rejected %llu%s%s\n",
            kTool, adapter.index == 0 ? "(routed)" : adapter.name.c_str(),
            static_cast<unsigned long long>(adapter.nativeProbesSent),
            static_cast<unsigned long long>(adapter.wsDiscoveryProbesSent),
            static_cast<unsigned long long>(adapter.received), static_cast<unsigned long long>(adapter.accepted),
            static_cast<unsigned long long>(adapter.Rejected()), rejected.c_str(), rejected.empty() ? "" : ")");
    }
}

void PrintWarnings(const SessionStatus& status) {
    for (const std::string& check : status.checks) {
        std::fprintf(stderr, "%s: warning: %s\n", kTool, check.c_str());
    }
    if (status.listedLimitReached) {
        std::fprintf(stderr, "%s: the list is full at %zu devices; %llu more devices answered and are not listed\n",
                     kTool, status.listedLimit, static_cast<unsigned long long>(status.notListed));
    }
    for (const SenderDrops& drops : status.droppedBySender) {
        std::fprintf(stderr, "%s: %llu replies from %s dropped: it announced more devices than one sender may\n", kTool,
                     static_cast<unsigned long long>(drops.dropped), DottedDecimal(drops.sender).c_str());
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

// Takes the value of one option that has one; empty when it was fine, else the problem.
std::string TakeOptionValue(const std::string& option, const std::string& value, ScanOptions& options) {
    bool ok = true;
    if (option == "--time") {
        ok = ParseSeconds(value, options.seconds);
        options.timeGiven = true;
    } else if (option == "--probes") {
        ok = ParseUnsigned(value, 1000, options.probes) && options.probes > 0;
    } else if (option == "--interval") {
        ok = ParseUnsigned(value, 60000, options.intervalMs);
    } else if (option == "--network") {
        SearchTarget target;
        std::string problem;
        if (!ParseSearchTarget(value, target, problem)) {
            return "invalid value for --network: " + problem;
        }
        options.targets.push_back(target);
    } else if (option == "--database" || option == "--oui" || option == "--probe") {
        ok = !value.empty();
        (option == "--database" ? options.databasePath
         : option == "--oui"    ? options.ouiPath
                                : options.probeAddress) = value;
    } else if (option == "--work-per-reply-us") {  // measurements only
        ok = ParseUnsigned(value, 1000000, options.workUs);
    } else if (option == "--receive-buffer") {  // measurements only
        ok = ParseUnsigned(value, 1u << 30, options.receiveBuffer) && options.receiveBuffer > 0;
    } else {
        return "unknown option: " + option;
    }
    return ok ? std::string() : "invalid value for " + option + ": " + value;
}

// Reads the command line; false when the tool is to exit at once with status.
bool ParseCommandLine(int argc, char** argv, ScanOptions& options, int& status) {
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        std::string problem;
        if (HandleInfoOption(option, kTool, kUsage)) {
            status = 0;
            return false;
        }
        if (option == "--json" || option == "--csv") {
            const Format wanted = option == "--json" ? Format::kJson : Format::kCsv;
            problem = options.format != Format::kTable && options.format != wanted
                          ? "--json and --csv cannot be combined"
                          : std::string();
            options.format = wanted;
        } else if (option == "--stats" || option == "--no-onvif") {
            (option == "--stats" ? options.stats : options.onvif) = option == "--stats";
        } else if (option.rfind("--", 0) == 0 && i + 1 < argc) {
            problem = TakeOptionValue(option, argv[++i], options);
        } else {
            problem = option.rfind("--", 0) == 0 ? "missing value for " + option : "unknown option: " + option;
        }
        if (!problem.empty()) {
            status = Usage(problem);
            return false;
        }
    }
    return true;
}

SearchSessionOptions SessionOptionsOf(const ScanOptions& scan) {
    SearchSessionOptions options;
    options.requestedReceiveBuffer = static_cast<int>(scan.receiveBuffer);
    options.wsDiscovery = scan.onvif;
    options.ouiPath = scan.ouiPath;
    options.probeDelaysMs.clear();
    const double timeMs = scan.seconds * 1000;
    for (unsigned long long n = 0; n < scan.probes; ++n) {
        const unsigned long long due = n * scan.intervalMs;
        // probes that would leave after the collection time are not sent
        if (n > 0 && static_cast<double>(due) >= timeMs) {
            break;
        }
        options.probeDelaysMs.push_back(static_cast<int>(due));
    }
    return options;
}

int RunAddressProbe(const ScanOptions& options) {
    std::uint32_t address = 0;
    if (!ParseAddress(options.probeAddress, address)) {
        return Usage("invalid value for --probe: " + options.probeAddress);
    }
    const int timeoutMs = options.timeGiven ? static_cast<int>(options.seconds * 1000) : 2000;
    const SearchSession session(SessionOptionsOf(options));
    const AddressProbeResult result = session.ProbeAddress(address, timeoutMs);
    std::printf("%s\n", DescribeAddressProbe(address, result, timeoutMs).c_str());
    return result.native == ProbeAnswer::kReply || result.onvif == ProbeAnswer::kReply ? 0 : 3;
}

int ReportCannotOpen(const SessionStatus& status) {
    std::fprintf(stderr, "%s: %s\n", kTool, status.problem.c_str());
    if (status.openError == EADDRINUSE) {
        std::fprintf(stderr, "%s: another program (perhaps Vantrel) is using UDP port 5050; close it and try again.\n",
                     kTool);
    }
    PrintWarnings(status);
    return 2;
}

void StandInForSlowConsumer(SearchSession& session, unsigned long long workUs) {
    // stands in for a slow consumer when measuring how many replies the socket buffer keeps
    const auto work = std::chrono::microseconds(workUs);
    session.SetDatagramObserver([work](const ReceivedDatagram&) {
        const auto until = Clock::now() + work;
        while (Clock::now() < until) {
        }
    });
}

void PrintRows(const std::vector<FoundRow>& rows, const ScanOptions& options, std::uint32_t probesSent) {
    switch (options.format) {
        case Format::kTable:
            PrintTable(rows, !options.databasePath.empty());
            break;
        case Format::kJson:
            std::fputs(FoundRowsToJson(rows, probesSent).c_str(), stdout);
            break;
        case Format::kCsv:
            std::fputs(FoundRowsToCsv(rows, probesSent).c_str(), stdout);
            break;
    }
}

int Run(int argc, char** argv) {
    ScanOptions options;
    int exitStatus = 0;
    if (!ParseCommandLine(argc, argv, options, exitStatus)) {
        return exitStatus;
    }
    if (!options.probeAddress.empty()) {
        return RunAddressProbe(options);
    }
    std::shared_ptr<RegisteredDevices> registered;
    if (!options.databasePath.empty()) {
        registered = std::make_shared<RegisteredDevices>();
        std::string problem;
        if (!LoadRegistered(options.databasePath, *registered, problem)) {
            std::fprintf(stderr, "%s: %s\n", kTool, problem.c_str());
            return 1;
        }
    }
    SearchSession session(SessionOptionsOf(options));
    std::string problem;
    if (!session.SetTargets(options.targets, problem)) {
        return Usage("invalid value for --network: " + problem);
    }
    session.SetRegistered(registered);
    if (options.workUs > 0) {
        StandInForSlowConsumer(session, options.workUs);
    }
    const std::int64_t startNs = RealtimeNs();
    const Clock::time_point start = Clock::now();
    if (!session.Start()) {
        return ReportCannotOpen(session.Status());
    }
    const int socketReceiveBuffer = session.SocketReceiveBuffer();
    std::this_thread::sleep_until(start + std::chrono::microseconds(static_cast<long long>(options.seconds * 1e6)));
    // a sweep over ranges may outlast the collection time; the search then ends with the round
    while (HasRanges(options.targets) && session.Status().state == SearchState::kSearching) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    session.Close();
    const SessionStatus status = session.Status();
    if (status.probesSent == 0) {
        std::fprintf(stderr, "%s: the search probe could not be sent: %s\n", kTool,
                     DescribeSendError(status.sendError).c_str());
        PrintWarnings(status);
        return 2;
    }
    const std::vector<FoundRow> rows = session.Rows();
    PrintRows(rows, options, status.probesSent);
    PrintWarnings(status);
    if (options.stats) {
        PrintStatistics(status, rows, startNs, socketReceiveBuffer);
    }
    return 0;
}

}  // namespace
}  // namespace vantrel

int main(int argc, char** argv) {
    return vantrel::Run(argc, argv);
}
