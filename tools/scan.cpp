// vantrel-scan: a device search without a window.
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

#include "discovery/found_device.h"
#include "discovery/search_protocol.h"
#include "discovery/udp_broadcast_endpoint.h"
#include "tool_options.h"

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
    "  --json              print the devices as JSON\n"
    "  --stats             print counts and timing to standard error\n"
    "  --help              show this help and exit\n"
    "  --version           show the version and exit\n"
    "\n"
    "Exit status: 0 when the search ran (even if nothing answered), 1 for a bad command line, 2 when UDP port\n"
    "5050 cannot be opened or no probe could be sent.\n";

struct Listed {
    FoundDevice device;
    Clock::time_point when;
};

class ScanEndpoint : public UdpBroadcastEndpoint {
public:
    ~ScanEndpoint() override { Close(); }

    std::chrono::microseconds workPerReply{0};

    std::vector<Listed> Take() {
        std::lock_guard<std::mutex> lock(mutex);
        return listed;
    }
    unsigned long long datagrams = 0;
    unsigned long long rejected = 0;
    unsigned long long duplicates = 0;

protected:
    void OnReceive(const unsigned char* data, std::size_t length, const sockaddr_in&) override {
        ++datagrams;
        ReplyPayload payload{};
        if (decoder.Decode(data, length, payload.data()) != 1) {
            ++rejected;
            return;
        }
        const FoundDevice device = MakeFoundDevice(payload.data());
        if (workPerReply.count() > 0) {
            // stands in for a slow consumer when measuring how many replies the socket buffer keeps
            const auto until = Clock::now() + workPerReply;
            while (Clock::now() < until) {
            }
        }
        std::lock_guard<std::mutex> lock(mutex);
        if (!seen.insert(DeviceIdentityKey(device)).second) {
            ++duplicates;
            return;
        }
        listed.push_back({device, Clock::now()});
    }

private:
    ReplyDecoder decoder;
    std::mutex mutex;
    std::unordered_set<std::uint64_t> seen;
    std::vector<Listed> listed;
};

int Usage(const std::string& problem) {
    return ReportUsageProblem(kTool, problem);
}

bool ParseSeconds(const std::string& text, double& seconds) {
    char* end = nullptr;
    seconds = std::strtod(text.c_str(), &end);
    return !text.empty() && *end == '\0' && std::isfinite(seconds) && seconds >= 0 && seconds <= 86400;
}

void PrintTable(const std::vector<Listed>& listed) {
    std::printf("%-6s %-16s %-12s %-16s %s\n", "NO", "IP Address", "Port Number", "Subnet Mask", "Default Gateway");
    int number = 0;
    for (const Listed& entry : listed) {
        std::printf("%-6d %-16s %-12s %-16s %s\n", ++number, entry.device.addressText, PortText(entry.device).c_str(),
                    SubnetMaskText(entry.device).c_str(), GatewayText(entry.device).c_str());
    }
}

void PrintJson(const std::vector<Listed>& listed) {
    std::printf("[");
    int number = 0;
    for (const Listed& entry : listed) {
        // every text here is dotted decimal or a number, nothing needs escaping
        std::printf(
            "%s\n  {\"no\": %d, \"address\": \"%s\", \"port\": %u, \"subnetMask\": \"%s\", \"gateway\": \"%s\"}",
            number == 0 ? "" : ",", number + 1, entry.device.addressText, entry.device.port,
            SubnetMaskText(entry.device).c_str(), GatewayText(entry.device).c_str());
        ++number;
    }
    std::printf("%s]\n", number == 0 ? "" : "\n");
}

}  // namespace

int main(int argc, char** argv) {
    double seconds = 3;
    unsigned long long probes = 3;
    unsigned long long intervalMs = 500;
    unsigned long long workUs = 0;
    unsigned long long receiveBuffer = UdpBroadcastEndpoint::kSocketReceiveBuffer;
    bool json = false;
    bool stats = false;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (HandleInfoOption(option, kTool, kUsage)) {
            return 0;
        }
        if (option == "--json") {
            json = true;
            continue;
        }
        if (option == "--stats") {
            stats = true;
            continue;
        }
        if (option != "--time" && option != "--probes" && option != "--interval" && option != "--work-per-reply-us" &&
            option != "--receive-buffer") {
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
        } else if (option == "--work-per-reply-us") {  // measurements only
            ok = ParseUnsigned(value, 1000000, workUs);
        } else if (option == "--receive-buffer") {  // measurements only
            ok = ParseUnsigned(value, 1u << 30, receiveBuffer) && receiveBuffer > 0;
        } else {
            return Usage("unknown option: " + option);
        }
        if (!ok) {
            return Usage("invalid value for " + option + ": " + value);
        }
    }

    ScanEndpoint endpoint;
    endpoint.workPerReply = std::chrono::microseconds(workUs);
    endpoint.SetRequestedReceiveBuffer(static_cast<int>(receiveBuffer));
    if (endpoint.Open() != 1) {
        std::fprintf(stderr, "vantrel-scan: %s\n", endpoint.LastErrorText().c_str());
        if (endpoint.LastError() == EADDRINUSE) {
            std::fprintf(stderr,
                         "vantrel-scan: another program (perhaps Vantrel) is using UDP port 5050; close it "
                         "and try again.\n");
        }
        return 2;
    }
    const int socketReceiveBuffer = endpoint.SocketReceiveBuffer();
    const Clock::time_point start = Clock::now();
    const Clock::time_point end = start + std::chrono::microseconds(static_cast<long long>(seconds * 1e6));
    unsigned long long sent = 0;
    int sendError = 0;
    for (unsigned long long n = 0; n < probes; ++n) {
        const Clock::time_point due = start + std::chrono::milliseconds(n * intervalMs);
        if (n > 0 && due >= end) {
            break;
        }
        std::this_thread::sleep_until(due);
        if (SendSearchProbe(endpoint) > 0) {
            ++sent;
        } else {
            sendError = endpoint.LastError();
        }
    }
    std::this_thread::sleep_until(end);
    endpoint.Close();

    if (sent == 0) {
        std::fprintf(stderr, "vantrel-scan: the search probe could not be sent: %s\n", std::strerror(sendError));
        return 2;
    }
    const std::vector<Listed> listed = endpoint.Take();
    if (json) {
        PrintJson(listed);
    } else {
        PrintTable(listed);
    }
    if (stats) {
        const double lastMs =
            listed.empty() ? 0 : std::chrono::duration<double, std::milli>(listed.back().when - start).count();
        std::fprintf(stderr,
                     "vantrel-scan: %zu devices listed; %llu datagrams, %llu rejected, %llu duplicates; last listed "
                     "%.1f ms after the first probe; socket receive buffer %d bytes\n",
                     listed.size(), endpoint.datagrams, endpoint.rejected, endpoint.duplicates, lastMs,
                     socketReceiveBuffer);
    }
    return 0;
}
