// vantrel-devsim: answers search probes (and ONVIF's WS-Discovery probes) like a set of real devices.
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
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
#include "discovery/ws_discovery.h"
#include "discovery/ws_discovery_device.h"
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
    "  --answer-probes LIST   answer only these search probes, counted from 1 as they arrive (e.g. 1,3); the\n"
    "                         others are ignored (all)\n"
    "  --delay MS             wait this long before answering (0)\n"
    "  --jitter MS            add a random wait of up to MS to each device's answer (0)\n"
    "  --extra N              append N extra-length bytes to each reply, 0 to 255 (0)\n"
    "  --repeat N             each device answers each probe N times (1)\n"
    "  --malformed N          also send N malformed replies per probe, for testing (0)\n"
    "  --port PORT            listen on and answer to this UDP port (5050)\n"
    "  --onvif                also answer ONVIF WS-Discovery probes on UDP port 3702 (multicast group\n"
    "                         239.255.255.250 on every interface, or unicast)\n"
    "  --onvif-only           answer only WS-Discovery probes, like a camera of another maker\n"
    "  --name TEXT            the devices' ONVIF name; %a stands for the device's address (Camera %a)\n"
    "  --model TEXT           the devices' ONVIF model (DevSim IPC)\n"
    "  --location PATH        the devices' ONVIF location, may hold '/' (lab/bench)\n"
    "  --service-url URL      the devices' ONVIF service address; %a as for --name\n"
    "                         (http://%a/onvif/device_service)\n"
    "  --loss P               drop each answer with probability P, 0 to 1 (0)\n"
    "  --probe-loss P         each device misses each probe with probability P, 0 to 1 (0)\n"
    "  --seed N               seed for the losses and waits, so that a run can be repeated (random)\n"
    "  --probes N             exit after answering N probes\n"
    "  --quiet                print only the start-up line\n"
    "  --help                 show this help and exit\n"
    "  --version              show the version and exit\n";

struct OnvifText {
    std::string name = "Camera %a";
    std::string model = "DevSim IPC";
    std::string location = "lab/bench";
    std::string serviceUrl = "http://%a/onvif/device_service";
};

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
    bool onvif = false;
    bool native = true;
    OnvifText onvifText;
    double loss = 0.0;
    double probeLoss = 0.0;
    bool seeded = false;
    unsigned long long seed = 0;
};

// What the generated devices share, before they are made.
struct Generation {
    unsigned long long count = 0;
    bool given = false;
    std::uint32_t firstAddress = htonl(0xC0A80164u);
    std::uint32_t mask = htonl(0xFFFFFF00u);
    std::uint32_t gateway = htonl(0xC0A80101u);
    unsigned long long devicePort = 8000;
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

bool ParseProbability(const std::string& text, double& probability) {
    if (text.empty() || !(std::isdigit(static_cast<unsigned char>(text[0])) || text[0] == '.')) {
        return false;
    }
    char* end = nullptr;
    const double parsed = std::strtod(text.c_str(), &end);
    if (*end != '\0' || !(parsed >= 0.0 && parsed <= 1.0)) {
        return false;
    }
    probability = parsed;
    return true;
}

// The options that describe the devices; false when option is not one of them.
bool ParseDeviceOption(const std::string& option, const std::string& value, Options& options, Generation& generation,
                       bool& ok) {
    if (option == "--devices") {
        ok = ParseUnsigned(value, 1000000, generation.count);
        generation.given = true;
    } else if (option == "--device") {
        FoundDevice device;
        ok = ParseDevice(value, device);
        options.devices.push_back(device);
    } else if (option == "--first-address") {
        ok = ParseAddress(value, generation.firstAddress);
    } else if (option == "--mask") {
        ok = ParseAddress(value, generation.mask);
    } else if (option == "--gateway") {
        ok = ParseAddress(value, generation.gateway);
    } else if (option == "--device-port") {
        ok = ParseUnsigned(value, 65535, generation.devicePort);
    } else if (option == "--name") {
        options.onvifText.name = value;
    } else if (option == "--model") {
        options.onvifText.model = value;
    } else if (option == "--location") {
        options.onvifText.location = value;
    } else if (option == "--service-url") {
        options.onvifText.serviceUrl = value;
    } else {
        return false;
    }
    return true;
}

// The options that say how the devices answer; false when option is not one of them.
bool ParseAnswerOption(const std::string& option, const std::string& value, Options& options, bool& ok) {
    if (option == "--reply-to") {
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
    } else if (option == "--loss") {
        ok = ParseProbability(value, options.loss);
    } else if (option == "--probe-loss") {
        ok = ParseProbability(value, options.probeLoss);
    } else if (option == "--seed") {
        ok = ParseUnsigned(value, ~0ull, options.seed);
        options.seeded = true;
    } else {
        return false;
    }
    return true;
}

void GenerateDevices(const Generation& generation, Options& options) {
    const unsigned long long count = !generation.given && options.devices.empty() ? 1 : generation.count;
    for (unsigned long long n = 0; n < count; ++n) {
        FoundDevice device;
        device.address = htonl(ntohl(generation.firstAddress) + static_cast<std::uint32_t>(n));
        device.subnetMask = generation.mask;
        device.gateway = generation.gateway;
        device.fourthValue = static_cast<std::uint32_t>(n);
        device.port = static_cast<std::uint16_t>(generation.devicePort);
        options.devices.push_back(device);
    }
}

// Fills options from the command line; false when the program should end now with status.
bool ParseCommandLine(int argc, char** argv, Options& options, int& status) {
    Generation generation;
    status = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (HandleInfoOption(option, kTool, kUsage)) {
            return false;
        }
        if (option == "--quiet" || option == "--onvif" || option == "--onvif-only") {
            options.quiet = options.quiet || option == "--quiet";
            options.onvif = options.onvif || option != "--quiet";
            options.native = options.native && option != "--onvif-only";
            continue;
        }
        if (i + 1 >= argc) {
            status = Usage("unknown option or missing value: " + option);
            return false;
        }
        const std::string value = argv[++i];
        bool ok = true;
        if (!ParseDeviceOption(option, value, options, generation, ok) &&
            !ParseAnswerOption(option, value, options, ok)) {
            status = Usage("unknown option: " + option);
            return false;
        }
        if (!ok) {
            status = Usage("invalid value for " + option + ": " + value);
            return false;
        }
    }
    GenerateDevices(generation, options);
    return true;
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

std::string WithAddress(const std::string& text, const FoundDevice& device) {
    std::string result;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 1 < text.size() && text[i + 1] == 'a') {
            result += DottedDecimal(device.address);
            ++i;
        } else {
            result += text[i];
        }
    }
    return result;
}

// The device as ONVIF describes it; its endpoint is stable, made from its address.
OnvifMatch OnvifDescription(const FoundDevice& device, const OnvifText& text) {
    OnvifMatch match;
    char endpoint[64];
    std::snprintf(endpoint, sizeof endpoint, "urn:uuid:5eb1ce00-0000-4000-8000-0000%08x", ntohl(device.address));
    match.endpoint = endpoint;
    match.name = WithAddress(text.name, device);
    match.model = WithAddress(text.model, device);
    match.location = WithAddress(text.location, device);
    match.xaddrs = {WithAddress(text.serviceUrl, device)};
    return match;
}

struct Pending {
    int fd;
    std::vector<unsigned char> datagram;
    sockaddr_in to;
    int interfaceIndex;
    std::uint32_t source;  // network order; 0: the interface's address
};

bool SendTo(const Pending& pending) {
    in_pktinfo info{};
    info.ipi_ifindex = pending.interfaceIndex;
    info.ipi_spec_dst.s_addr = pending.source;
    // the limited broadcast leaves by the interface the probe came in by
    const in_pktinfo* via = pending.interfaceIndex > 0 || pending.source != 0 ? &info : nullptr;
    return SendDatagramVia(pending.fd, pending.datagram.data(), pending.datagram.size(), pending.to, via) >= 0;
}

int OpenUdpSocket(std::uint16_t port, bool shared) {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        std::fprintf(stderr, "vantrel-devsim: cannot create a UDP socket: %s\n", std::strerror(errno));
        return -1;
    }
    const int on = 1;
    const int buffer = 4 * 1024 * 1024;
    setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
    setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
    if (shared) {
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    }
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    local.sin_port = htons(port);
    if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) < 0) {
        std::fprintf(stderr, "vantrel-devsim: cannot bind UDP port %u: %s\n", port, std::strerror(errno));
        close(fd);
        return -1;
    }
    return fd;
}

// Joins the WS-Discovery group on every interface that is up and can take multicast; gives how many joined.
int JoinDiscoveryGroup(int fd) {
    ifaddrs* interfaces = nullptr;
    if (getifaddrs(&interfaces) != 0) {
        return 0;
    }
    std::set<unsigned> joined;
    for (const ifaddrs* i = interfaces; i != nullptr; i = i->ifa_next) {
        const unsigned index = if_nametoindex(i->ifa_name);
        if (i->ifa_addr == nullptr || i->ifa_addr->sa_family != AF_INET || (i->ifa_flags & IFF_UP) == 0 ||
            (i->ifa_flags & IFF_MULTICAST) == 0 || index == 0 || joined.count(index) != 0) {
            continue;
        }
        ip_mreqn request{};
        inet_pton(AF_INET, kWsDiscoveryGroup, &request.imr_multiaddr);
        request.imr_ifindex = static_cast<int>(index);
        if (setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &request, sizeof request) == 0) {
            joined.insert(index);
        }
    }
    freeifaddrs(interfaces);
    return static_cast<int>(joined.size());
}

struct Received {
    ssize_t size = -1;
    sockaddr_in from{};
    int interfaceIndex = 0;
};

Received ReceiveDatagram(int fd, std::vector<unsigned char>& buffer) {
    Received received;
    iovec part{buffer.data(), buffer.size()};
    alignas(cmsghdr) unsigned char control[256];
    msghdr message{};
    message.msg_name = &received.from;
    message.msg_namelen = sizeof received.from;
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    received.size = recvmsg(fd, &message, MSG_DONTWAIT);
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); received.size >= 0 && c != nullptr; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
            in_pktinfo info;
            std::memcpy(&info, CMSG_DATA(c), sizeof info);
            received.interfaceIndex = info.ipi_ifindex;
        }
    }
    return received;
}

class Simulator {
public:
    explicit Simulator(const Options& options)
        : options_(options), random_(options.seeded ? options.seed : std::random_device{}()) {}

    bool Open();
    void Loop();
    void Close();

private:
    void Receive(int fd);
    void AnswerSearchProbe(const Received& probe);
    void AnswerDiscoveryProbe(const Received& probe, const std::string& messageId);
    // true when the device does not get to see this probe (--probe-loss)
    bool MissesProbe();
    // false when the answer is lost (--loss)
    bool Queue(Clock::time_point due, Pending pending);
    Clock::time_point DueTime();
    void Report(const char* kind, const sockaddr_in& from, unsigned long long queued) const;
    void SendDue();
    int PollTimeoutMs() const;

    const Options& options_;
    std::mt19937_64 random_;
    int searchFd_ = -1;
    int discoveryFd_ = -1;
    std::multimap<Clock::time_point, Pending> pending_;
    unsigned long long probesAnswered_ = 0;
    unsigned long long searchProbesReceived_ = 0;
    std::vector<unsigned char> datagram_ = std::vector<unsigned char>(65536);
};

bool Simulator::Open() {
    searchFd_ = OpenUdpSocket(static_cast<std::uint16_t>(options_.port), false);
    if (searchFd_ < 0) {
        return false;
    }
    if (options_.onvif) {
        discoveryFd_ = OpenUdpSocket(kWsDiscoveryPort, true);
        if (discoveryFd_ < 0) {
            return false;
        }
        if (JoinDiscoveryGroup(discoveryFd_) == 0) {
            std::fprintf(stderr, "vantrel-devsim: no interface joined %s; only unicast WS-Discovery probes arrive\n",
                         kWsDiscoveryGroup);
        }
    }
    return true;
}

void Simulator::Close() {
    for (const int fd : {searchFd_, discoveryFd_}) {
        if (fd >= 0) {
            close(fd);
        }
    }
}

int Simulator::PollTimeoutMs() const {
    if (pending_.empty()) {
        return 200;
    }
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(pending_.begin()->first - Clock::now());
    return static_cast<int>(std::max<long long>(0, std::min<long long>(wait.count(), 200)));
}

void Simulator::Loop() {
    while (!stopSignalled) {
        pollfd watched[2] = {{searchFd_, POLLIN, 0}, {discoveryFd_, POLLIN, 0}};
        if (poll(watched, discoveryFd_ >= 0 ? 2 : 1, PollTimeoutMs()) > 0) {
            for (const pollfd& one : watched) {
                if (one.fd >= 0 && (one.revents & POLLIN) != 0) {
                    Receive(one.fd);
                }
            }
        }
        SendDue();
        if (options_.probes > 0 && probesAnswered_ >= options_.probes && pending_.empty()) {
            break;
        }
    }
}

void Simulator::Receive(int fd) {
    const Received received = ReceiveDatagram(fd, datagram_);
    if (received.size < 0) {
        return;
    }
    const std::size_t size = static_cast<std::size_t>(received.size);
    if (fd == searchFd_ && IsSearchProbe(datagram_.data(), size)) {
        ++searchProbesReceived_;
        const bool chosen = options_.answerProbes.empty() || options_.answerProbes.count(searchProbesReceived_) != 0;
        if (chosen && options_.native) {
            AnswerSearchProbe(received);
        }
        return;
    }
    WsDiscoveryProbe probe;
    if (fd == discoveryFd_ && ParseWsDiscoveryProbe(datagram_.data(), size, probe) && ProbeAsksForOnvifCamera(probe)) {
        AnswerDiscoveryProbe(received, probe.messageId);
    }
}

Clock::time_point Simulator::DueTime() {
    std::uniform_int_distribution<unsigned long long> jitter(0, options_.jitterMs);
    return Clock::now() + std::chrono::milliseconds(options_.delayMs + jitter(random_));
}

bool Simulator::MissesProbe() {
    std::bernoulli_distribution missed(options_.probeLoss);
    return missed(random_);
}

bool Simulator::Queue(Clock::time_point due, Pending pending) {
    std::bernoulli_distribution lost(options_.loss);
    if (lost(random_)) {
        return false;
    }
    pending_.emplace(due, std::move(pending));
    return true;
}

void Simulator::AnswerSearchProbe(const Received& probe) {
    sockaddr_in to = probe.from;
    int interfaceIndex = 0;
    if (options_.broadcast) {
        to.sin_addr.s_addr = htonl(INADDR_BROADCAST);
        to.sin_port = htons(static_cast<std::uint16_t>(options_.port));
        interfaceIndex = probe.interfaceIndex;
    }
    unsigned long long queued = options_.malformed;
    for (const FoundDevice& device : options_.devices) {
        if (MissesProbe()) {
            continue;
        }
        const auto due = DueTime();
        for (unsigned long long r = 0; r < options_.repeat; ++r) {
            queued +=
                Queue(due, Pending{searchFd_, BuildSearchReply(device, static_cast<unsigned char>(options_.extra)), to,
                                   interfaceIndex, options_.fromAnnounced ? device.address : 0u});
        }
    }
    const auto now = Clock::now() + std::chrono::milliseconds(options_.delayMs);
    for (unsigned long long m = 0; m < options_.malformed; ++m) {
        pending_.emplace(now, Pending{searchFd_, MalformedReply(m), to, interfaceIndex, 0u});
    }
    ++probesAnswered_;
    Report("probe", probe.from, queued);
}

void Simulator::AnswerDiscoveryProbe(const Received& probe, const std::string& messageId) {
    unsigned long long queued = 0;
    for (const FoundDevice& device : options_.devices) {
        if (MissesProbe()) {
            continue;
        }
        const std::string answer =
            BuildWsDiscoveryProbeMatches(messageId, OnvifDescription(device, options_.onvifText));
        const auto due = DueTime();
        for (unsigned long long r = 0; r < options_.repeat; ++r) {
            queued += Queue(due, Pending{discoveryFd_, std::vector<unsigned char>(answer.begin(), answer.end()),
                                         probe.from, 0, options_.fromAnnounced ? device.address : 0u});
        }
    }
    ++probesAnswered_;
    Report("WS-Discovery probe", probe.from, queued);
}

void Simulator::Report(const char* kind, const sockaddr_in& from, unsigned long long queued) const {
    if (!options_.quiet) {
        std::printf("%s from %s:%u, %llu replies queued\n", kind, inet_ntoa(from.sin_addr), ntohs(from.sin_port),
                    queued);
        std::fflush(stdout);
    }
}

void Simulator::SendDue() {
    unsigned long long failed = 0;
    int error = 0;
    while (!pending_.empty() && pending_.begin()->first <= Clock::now()) {
        if (!SendTo(pending_.begin()->second)) {
            ++failed;
            error = errno;
        }
        pending_.erase(pending_.begin());
    }
    if (failed > 0) {
        std::fprintf(stderr, "vantrel-devsim: %llu replies could not be sent: %s\n", failed, std::strerror(error));
    }
}

int Run(int argc, char** argv) {
    Options options;
    int status = 0;
    if (!ParseCommandLine(argc, argv, options, status)) {
        return status;
    }
    Simulator simulator(options);
    if (!simulator.Open()) {
        simulator.Close();
        return 2;
    }
    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);
    std::printf(
        "vantrel-devsim: %zu devices listening on UDP port %llu%s\n", options.devices.size(), options.port,
        options.onvif ? (options.native ? " and WS-Discovery port 3702" : " (WS-Discovery port 3702 only)") : "");
    std::fflush(stdout);
    simulator.Loop();
    simulator.Close();
    return 0;
}

}  // namespace
}  // namespace vantrel

int main(int argc, char** argv) {
    return vantrel::Run(argc, argv);
}
