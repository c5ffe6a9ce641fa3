// vantrel-devsim: answers search probes like a set of real devices.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "discovery/datagram_send.h"
#include "discovery/found_device.h"
#include "discovery/search_protocol.h"
#include "discovery/search_reply_builder.h"
#include "discovery/udp_broadcast_endpoint.h"
#include "tool_options.h"

namespace vantrel {
namespace {

using Clock = std::chrono::steady_clock;

volatile std::sig_atomic_t stopSignalled = 0;

void OnStopSignal(int) {
    stopSignalled = 1;
}

constexpr const char* kTool = "vantrel-devsim";

const char kUsage[] =
    "Usage: vantrel-devsim [OPTION]...\n"
    "Answers Vantrel's search probes on UDP port 5050 like network video devices, so that the search can be\n"
    "tried without hardware. Runs until interrupted.\n"
    "\n"
    "  --devices N            simulate N generated devices (default 1 when no --device is given)\n"
    "  --device IP,MASK,GATEWAY,PORT\n"
    "                         simulate this device (may be repeated; added to the generated ones)\n"
    "  --first-address IP     address of the first generated device, the next ones count up (192.168.1.100)\n"
    "  --mask IP              subnet mask of the generated devices (255.255.255.0)\n"
    "  --gateway IP           default gateway of the generated devices (192.168.1.1)\n"
    "  --device-port PORT     service port of the generated devices (8000)\n"
    "  --reply-to source|broadcast\n"
    "                         answer the probe's sender, or broadcast on the interface the probe came in by\n"
    "                         (source)\n"
    "  --source interface|announced\n"
    "                         send each reply from the address of the interface it leaves by, or from the\n"
    "                         device's own announced address, which must then be an address of this host\n"
    "                         (interface)\n"
    "  --answer-probes LIST   answer only these probes, counted from 1 as they arrive (e.g. 1,3); the others\n"
    "                         are ignored (all)\n"
    "  --delay MS             wait this long before answering (0)\n"
    "  --jitter MS            add a random wait of up to MS to each device's answer (0)\n"
    "  --extra N              append N extra-length bytes to each reply, 0 to 255 (0)\n"
    "  --repeat N             each device answers each probe N times (1)\n"
    "  --malformed N          also send N malformed replies per probe, for testing (0)\n"
    "  --port PORT            listen on and answer to this UDP port (5050)\n"
    "  --probes N             exit after answering N probes\n"
    "  --quiet                print only the start-up line\n"
    "  --help                 show this help and exit\n"
    "  --version              show the version and exit\n";

struct Options {
    std::vector<FoundDevice> devices;
    bool broadcast = false;
    unsigned long long delayMs = 0;
    unsigned long long jitterMs = 0;
    unsigned long long extra = 0;
    unsigned long long repeat = 1;
    unsigned long long malformed = 0;
    unsigned long long port = kSearchPort;
    unsigned long long probes = 0;
    bool fromAnnounced = false;
    std::set<unsigned long long> answerProbes;  // empty: all
    bool quiet = false;
};

int Usage(const std::string& problem) {
    return ReportUsageProblem(kTool, problem);
}

bool ParseDevice(const std::string& text, FoundDevice& device) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        parts.push_back(text.substr(start, comma - start));
        if (comma == std::string::npos) {
            break;
        }
        start = comma + 1;
    }
    unsigned long long port = 0;
    return parts.size() == 4 && ParseAddress(parts[0], device.address) && ParseAddress(parts[1], device.subnetMask) &&
           ParseAddress(parts[2], device.gateway) && ParseUnsigned(parts[3], 65535, port) &&
           (device.port = static_cast<std::uint16_t>(port), true);
}

bool ParseProbeList(const std::string& text, std::set<unsigned long long>& numbers) {
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        unsigned long long number = 0;
        if (!ParseUnsigned(text.substr(start, comma - start), 1000000, number) || number == 0) {
            return false;
        }
        numbers.insert(number);
        if (comma == std::string::npos) {
            return true;
        }
        start = comma + 1;
    }
}

// The malformed replies cycle through the ways a datagram fails the decoder; their addresses are in
// 203.0.113.0/24 so that a test can tell if one was listed.
std::vector<unsigned char> MalformedReply(unsigned long long number) {
    FoundDevice device;
    device.address = htonl(0xCB007100u | static_cast<std::uint32_t>(number % 250 + 1));
    device.port = 8000;
    std::vector<unsigned char> reply = BuildSearchReply(device);
    switch (number % 6) {
        case 0:
            reply[0] = 0xB4;
            break;
        case 1:
            reply.resize(119);
            break;
        case 2:
            reply[2] = 3;
            break;
        case 3:
            reply[4] = 87;
            reply.resize(119);
            break;
        case 4:
            reply[16] = 1;
            break;
        default:
            reply.clear();
            break;
    }
    return reply;
}

struct Pending {
    std::vector<unsigned char> datagram;
    sockaddr_in to;
    int interfaceIndex;
    std::uint32_t source;  // network order; 0: the interface's address
};

bool SendTo(int fd, const Pending& pending) {
    in_pktinfo info{};
    info.ipi_ifindex = pending.interfaceIndex;
    info.ipi_spec_dst.s_addr = pending.source;
    // the limited broadcast leaves by the interface the probe came in by
    const in_pktinfo* via = pending.interfaceIndex > 0 || pending.source != 0 ? &info : nullptr;
    return SendDatagramVia(fd, pending.datagram.data(), pending.datagram.size(), pending.to, via) >= 0;
}

int Run(int argc, char** argv) {
    Options options;
    unsigned long long generated = 0;
    bool generatedGiven = false;
    std::uint32_t firstAddress = htonl(0xC0A80164u);
    std::uint32_t mask = htonl(0xFFFFFF00u);
    std::uint32_t gateway = htonl(0xC0A80101u);
    unsigned long long devicePort = 8000;

    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (HandleInfoOption(option, kTool, kUsage)) {
            return 0;
        }
        if (option == "--quiet") {
            options.quiet = true;
            continue;
        }
        if (i + 1 >= argc) {
            return Usage("unknown option or missing value: " + option);
        }
        const std::string value = argv[++i];
        bool ok = true;
        if (option == "--devices") {
            ok = ParseUnsigned(value, 1000000, generated);
            generatedGiven = true;
        } else if (option == "--device") {
            FoundDevice device;
            ok = ParseDevice(value, device);
            options.devices.push_back(device);
        } else if (option == "--first-address") {
            ok = ParseAddress(value, firstAddress);
        } else if (option == "--mask") {
            ok = ParseAddress(value, mask);
        } else if (option == "--gateway") {
            ok = ParseAddress(value, gateway);
        } else if (option == "--device-port") {
            ok = ParseUnsigned(value, 65535, devicePort);
        } else if (option == "--reply-to") {
            ok = value == "source" || value == "broadcast";
            options.broadcast = value == "broadcast";
        } else if (option == "--source") {
            ok = value == "interface" || value == "announced";
            options.fromAnnounced = value == "announced";
        } else if (option == "--answer-probes") {
            ok = ParseProbeList(value, options.answerProbes);
        } else if (option == "--delay") {
            ok = ParseUnsigned(value, 3600000, options.delayMs);
        } else if (option == "--jitter") {
            ok = ParseUnsigned(value, 3600000, options.jitterMs);
        } else if (option == "--extra") {
            ok = ParseUnsigned(value, 255, options.extra);
        } else if (option == "--repeat") {
            ok = ParseUnsigned(value, 1000, options.repeat);
        } else if (option == "--malformed") {
            ok = ParseUnsigned(value, 1000000, options.malformed);
        } else if (option == "--port") {
            ok = ParseUnsigned(value, 65535, options.port) && options.port != 0;
        } else if (option == "--probes") {
            ok = ParseUnsigned(value, 1000000, options.probes);
        } else {
            return Usage("unknown option: " + option);
        }
        if (!ok) {
            return Usage("invalid value for " + option + ": " + value);
        }
    }
    if (!generatedGiven && options.devices.empty()) {
        generated = 1;
    }
    for (unsigned long long n = 0; n < generated; ++n) {
        FoundDevice device;
        device.address = htonl(ntohl(firstAddress) + static_cast<std::uint32_t>(n));
        device.subnetMask = mask;
        device.gateway = gateway;
        device.fourthValue = static_cast<std::uint32_t>(n);
        device.port = static_cast<std::uint16_t>(devicePort);
        options.devices.push_back(device);
    }

    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        std::fprintf(stderr, "vantrel-devsim: cannot create a UDP socket: %s\n", std::strerror(errno));
        return 2;
    }
    const int on = 1;
    const int buffer = 4 * 1024 * 1024;
    setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
    setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    local.sin_port = htons(static_cast<std::uint16_t>(options.port));
    if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) < 0) {
        std::fprintf(stderr, "vantrel-devsim: cannot bind UDP port %llu: %s\n", options.port, std::strerror(errno));
        return 2;
    }
    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);
    std::printf("vantrel-devsim: %zu devices listening on UDP port %llu\n", options.devices.size(), options.port);
    std::fflush(stdout);

    std::mt19937 random(std::random_device{}());
    std::multimap<Clock::time_point, Pending> pending;
    unsigned long long probesAnswered = 0;
    unsigned long long probesReceived = 0;
    std::vector<unsigned char> datagram(65536);
    while (!stopSignalled) {
        int timeoutMs = 200;
        if (!pending.empty()) {
            const auto wait =
                std::chrono::duration_cast<std::chrono::milliseconds>(pending.begin()->first - Clock::now());
            timeoutMs = static_cast<int>(std::max<long long>(0, std::min<long long>(wait.count(), 200)));
        }
        pollfd watched{fd, POLLIN, 0};
        if (poll(&watched, 1, timeoutMs) > 0 && (watched.revents & POLLIN)) {
            sockaddr_in from{};
            iovec part{datagram.data(), datagram.size()};
            alignas(cmsghdr) unsigned char control[256];
            msghdr message{};
            message.msg_name = &from;
            message.msg_namelen = sizeof from;
            message.msg_iov = &part;
            message.msg_iovlen = 1;
            message.msg_control = control;
            message.msg_controllen = sizeof control;
            const ssize_t received = recvmsg(fd, &message, MSG_DONTWAIT);
            if (received >= 0 && IsSearchProbe(datagram.data(), static_cast<std::size_t>(received))) {
                ++probesReceived;
            }
            const bool answer = options.answerProbes.empty() || options.answerProbes.count(probesReceived) != 0;
            if (received >= 0 && IsSearchProbe(datagram.data(), static_cast<std::size_t>(received)) && answer) {
                int interfaceIndex = 0;
                for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
                    if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
                        in_pktinfo info;
                        std::memcpy(&info, CMSG_DATA(c), sizeof info);
                        interfaceIndex = info.ipi_ifindex;
                    }
                }
                sockaddr_in to = from;
                if (options.broadcast) {
                    to.sin_addr.s_addr = htonl(INADDR_BROADCAST);
                    to.sin_port = htons(static_cast<std::uint16_t>(options.port));
                } else {
                    interfaceIndex = 0;
                }
                const auto now = Clock::now() + std::chrono::milliseconds(options.delayMs);
                std::uniform_int_distribution<unsigned long long> jitter(0, options.jitterMs);
                for (const FoundDevice& device : options.devices) {
                    const auto due = now + std::chrono::milliseconds(jitter(random));
                    for (unsigned long long r = 0; r < options.repeat; ++r) {
                        pending.emplace(due,
                                        Pending{BuildSearchReply(device, static_cast<unsigned char>(options.extra)), to,
                                                interfaceIndex, options.fromAnnounced ? device.address : 0u});
                    }
                }
                for (unsigned long long m = 0; m < options.malformed; ++m) {
                    pending.emplace(now, Pending{MalformedReply(m), to, interfaceIndex, 0u});
                }
                ++probesAnswered;
                if (!options.quiet) {
                    std::printf(
                        "probe from %s:%u, %llu replies queued\n", inet_ntoa(from.sin_addr), ntohs(from.sin_port),
                        static_cast<unsigned long long>(options.devices.size()) * options.repeat + options.malformed);
                    std::fflush(stdout);
                }
            }
        }
        unsigned long long failed = 0;
        while (!pending.empty() && pending.begin()->first <= Clock::now()) {
            failed += SendTo(fd, pending.begin()->second) ? 0 : 1;
            pending.erase(pending.begin());
        }
        if (failed > 0) {
            std::fprintf(stderr, "vantrel-devsim: %llu replies could not be sent: %s\n", failed, std::strerror(errno));
        }
        if (options.probes > 0 && probesAnswered >= options.probes && pending.empty()) {
            break;
        }
    }
    close(fd);
    return 0;
}

}  // namespace
}  // namespace vantrel

int main(int argc, char** argv) {
    return vantrel::Run(argc, argv);
}
