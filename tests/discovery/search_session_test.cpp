// The search session on loopback: a device socket on 127.0.0.1 plays the network, so that schedules, rounds
// and the hand-off can be driven exactly. Nothing here leaves the machine's loopback (and the suite runs in a
// namespace of its own besides).
#include "discovery/search_session.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "discovery/search_protocol.h"
#include "discovery/search_reply_builder.h"
#include "wait_until.h"

namespace vantrel {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

std::uint32_t Ip(const std::string& text) {
    in_addr address{};
    inet_pton(AF_INET, text.c_str(), &address);
    return address.s_addr;
}

using testing::WaitUntil;

// A device on loopback: counts the probes it receives and answers each through a script.
class LoopbackDevice {
public:
    // answer(probe number from 1) gives the addresses to announce, each on port 8000
    using Script = std::function<std::vector<std::string>(int)>;

    explicit LoopbackDevice(Script script, std::uint32_t bindAddress = INADDR_LOOPBACK)
        : script_(std::move(script)), fd_(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(bindAddress);
        bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local);
        const int buffer = 4 * 1024 * 1024;
        setsockopt(fd_, SOL_SOCKET, SO_RCVBUFFORCE, &buffer, sizeof buffer);
        thread_ = std::thread([this] { Serve(); });
    }
    ~LoopbackDevice() {
        running_.store(false);
        thread_.join();
        close(fd_);
    }
    std::uint16_t Port() const {
        sockaddr_in bound{};
        socklen_t length = sizeof bound;
        getsockname(fd_, reinterpret_cast<sockaddr*>(&bound), &length);
        return ntohs(bound.sin_port);
    }
    int Probes() const { return probes_.load(); }
    // Probes whose answers have all been sent: on loopback they are in the receiving socket by then.
    int Answered() const { return answered_.load(); }
    std::vector<Clock::time_point> ProbeTimes() {
        std::lock_guard<std::mutex> lock(mutex_);
        return probeTimes_;
    }

private:
    void Serve() {
        unsigned char buffer[2048];
        while (running_.load()) {
            pollfd watched{fd_, POLLIN, 0};
            if (poll(&watched, 1, 20) <= 0) {
                continue;
            }
            sockaddr_in from{};
            socklen_t fromLength = sizeof from;
            const ssize_t n = recvfrom(fd_, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
            if (n < 0 || !IsSearchProbe(buffer, static_cast<std::size_t>(n))) {
                continue;
            }
            const int number = ++probes_;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                probeTimes_.push_back(Clock::now());
            }
            for (const std::string& address : script_(number)) {
                FoundDevice device;
                device.address = Ip(address);
                device.port = 8000;
                const std::vector<unsigned char> reply = BuildSearchReply(device);
                sendto(fd_, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&from), sizeof from);
            }
            ++answered_;
        }
    }

    Script script_;
    const int fd_;
    std::atomic<bool> running_{true};
    std::atomic<int> probes_{0};
    std::atomic<int> answered_{0};
    std::mutex mutex_;
    std::vector<Clock::time_point> probeTimes_;
    std::thread thread_;
};

std::vector<std::string> Numbered(const std::string& prefix, int count) {
    std::vector<std::string> addresses;
    for (int i = 1; i <= count; ++i) {
        addresses.push_back(prefix + std::to_string(i));
    }
    return addresses;
}

SearchSessionOptions LoopbackOptions(std::uint16_t devicePort, std::vector<int> delaysMs) {
    SearchSessionOptions options;
    options.addresses.destinationAddress = INADDR_LOOPBACK;
    options.addresses.destinationPort = devicePort;
    options.addresses.localAddress = INADDR_LOOPBACK;
    options.addresses.localPort = 0;
    options.probeDelaysMs = std::move(delaysMs);
    options.settleMs = 100;
    return options;
}

std::set<std::string> Addresses(const std::vector<FoundRow>& rows) {
    std::set<std::string> texts;
    for (const FoundRow& row : rows) {
        texts.insert(row.device.addressText);
    }
    return texts;
}

TEST(SearchSession, ProbesFollowTheScheduleAndTheRoundFinishes) {
    LoopbackDevice device([](int) { return std::vector<std::string>{"10.0.0.1"}; });
    SearchSession session(LoopbackOptions(device.Port(), {0, 100, 250}));
    EXPECT_EQ(session.Status().state, SearchState::kIdle);
    const auto started = Clock::now();
    ASSERT_TRUE(session.Start()) << session.Status().problem;
    EXPECT_EQ(session.Status().state, SearchState::kSearching);
    EXPECT_EQ(DescribeStatus(session.Status()), "Searching\xE2\x80\xA6");
    ASSERT_TRUE(WaitUntil([&] { return session.Status().state == SearchState::kFinished; }, 3s));

    const SessionStatus status = session.Status();
    EXPECT_EQ(status.round, 1u);
    EXPECT_EQ(status.probesSent, 3u);
    EXPECT_EQ(status.probesPlanned, 3u);
    EXPECT_EQ(DescribeStatus(status), "1 device found");
    const std::vector<Clock::time_point> times = device.ProbeTimes();
    ASSERT_EQ(times.size(), 3u);
    EXPECT_GE(times[1] - started, 100ms);
    EXPECT_GE(times[2] - started, 250ms);
    const std::vector<FoundRow> rows = session.Rows();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].probesSeen, 3u);
    EXPECT_EQ(rows[0].replies, 3u);
    EXPECT_TRUE(rows[0].senderMismatch) << "announces 10.0.0.1, sent from 127.0.0.1";
    EXPECT_STREQ(rows[0].adapterName, "lo");
    EXPECT_GT(rows[0].lastReplyNs, rows[0].firstReplyNs);

    // Refresh: a second round with its own numbers
    ASSERT_TRUE(session.Refresh());
    EXPECT_EQ(session.Status().round, 2u);
    ASSERT_TRUE(WaitUntil([&] { return session.Status().state == SearchState::kFinished; }, 3s));
    EXPECT_EQ(device.Probes(), 6);
    EXPECT_EQ(session.Rows().size(), 1u);
    EXPECT_EQ(session.Rows()[0].round, 2u);
}

TEST(SearchSession, RoundWithoutProbesFinishesWithNothingFound) {
    SearchSession session(LoopbackOptions(9, {}));
    ASSERT_TRUE(session.Start());
    ASSERT_TRUE(WaitUntil([&] { return session.Status().state == SearchState::kFinished; }, 2s));
    EXPECT_EQ(session.Status().probesSent, 0u);
    EXPECT_EQ(DescribeStatus(session.Status()), "0 devices found");
}

TEST(SearchSession, HandOffCallsBackOncePerBurstAndGivesRowsInBatches) {
    LoopbackDevice device(
        [](int number) { return number == 1 ? Numbered("10.0.1.", 250) : std::vector<std::string>{"10.0.2.1"}; });
    SearchSession session(LoopbackOptions(device.Port(), {0}));
    std::atomic<int> calls{0};
    session.SetPendingCallback([&] { ++calls; });
    ASSERT_TRUE(session.Start());
    ASSERT_TRUE(WaitUntil([&] { return session.Status().listed == 250; }, 3s)) << session.Status().listed;
    ASSERT_TRUE(WaitUntil([&] { return session.Status().state == SearchState::kFinished; }, 3s));
    EXPECT_EQ(calls.load(), 1) << "nothing was taken, so nothing calls again";
    EXPECT_EQ(session.Status().pending, 250u);

    std::vector<std::uint32_t> numbers;
    PendingRows batch;
    do {
        batch = session.TakePending(100);
        EXPECT_LE(batch.rows.size(), 100u);
        for (const FoundRow& row : batch.rows) {
            numbers.push_back(row.number);
        }
    } while (batch.more);
    ASSERT_EQ(numbers.size(), 250u);
    EXPECT_EQ(numbers.front(), 1u);
    EXPECT_EQ(numbers.back(), 250u);
    EXPECT_EQ(calls.load(), 1);

    // everything was taken: the next arrival calls again, once
    ASSERT_TRUE(session.Refresh());
    ASSERT_TRUE(WaitUntil([&] { return session.Status().listed == 1; }, 3s));
    ASSERT_TRUE(WaitUntil([&] { return calls.load() == 2; }, 1s));
    const PendingRows second = session.TakePending(100);
    ASSERT_EQ(second.rows.size(), 1u);
    EXPECT_EQ(second.round, 2u);
    EXPECT_STREQ(second.rows[0].device.addressText, "10.0.2.1");
}

TEST(SearchSession, RefreshDropsAnswersOfTheEarlierRoundStillWaitingInTheSocket) {
    // round 1's first probe gets 200 answers; every later probe gets the three devices of round 2
    LoopbackDevice device([](int number) {
        return number == 1 ? Numbered("10.0.1.", 200) : std::vector<std::string>{"10.0.2.1", "10.0.2.2", "10.0.2.3"};
    });
    SearchSession session(LoopbackOptions(device.Port(), {0, 100}));
    // the first call holds the receiver thread, as a slow machine would, until round 2 has begun
    std::mutex mutex;
    std::condition_variable changed;
    bool held = false;
    bool released = false;
    std::atomic<int> calls{0};
    session.SetPendingCallback([&] {
        if (++calls > 1) {
            return;
        }
        std::unique_lock<std::mutex> lock(mutex);
        held = true;
        changed.notify_all();
        changed.wait(lock, [&] { return released; });
    });
    ASSERT_TRUE(session.Start());
    {
        std::unique_lock<std::mutex> lock(mutex);
        ASSERT_TRUE(changed.wait_for(lock, 3s, [&] { return held; }));
    }
    // the rest of round 1's answers land in the socket meanwhile
    ASSERT_TRUE(WaitUntil([&] { return device.Answered() >= 1; }, 3s));
    ASSERT_TRUE(session.Refresh());
    {
        std::lock_guard<std::mutex> lock(mutex);
        released = true;
        changed.notify_all();
    }
    ASSERT_TRUE(WaitUntil([&] { return session.Status().state == SearchState::kFinished; }, 3s));

    const SessionStatus status = session.Status();
    EXPECT_EQ(status.round, 2u);
    EXPECT_EQ(Addresses(session.Rows()), (std::set<std::string>{"10.0.2.1", "10.0.2.2", "10.0.2.3"}));
    EXPECT_EQ(status.earlierRound, 199u) << "one answer was taken before Refresh, in round 1";
    for (const FoundRow& row : session.TakePending(1000).rows) {
        EXPECT_EQ(row.round, 2u) << row.device.addressText;
    }
}

TEST(SearchSession, CloseEndsARangeSweep) {
    // every 127.1.x.y reaches a socket bound to all addresses on loopback
    LoopbackDevice device([](int) { return std::vector<std::string>{}; }, INADDR_ANY);
    SearchSession session(LoopbackOptions(device.Port(), {0}));
    SearchTarget sweep;
    sweep.kind = SearchTarget::Kind::kUnicastRange;
    sweep.first = 0x7F010000u;  // 127.1.0.0-127.1.255.255, loopback only
    sweep.last = 0x7F01FFFFu;
    std::string problem;
    ASSERT_TRUE(session.SetTargets({sweep}, problem)) << problem;
    ASSERT_TRUE(session.Start());
    // the pace itself is the schedule's, tested on a clock of the test's own
    ASSERT_TRUE(WaitUntil([&] { return device.Probes() > 10; }, 3s));
    EXPECT_EQ(session.Status().state, SearchState::kSearching);
    session.Close();
    EXPECT_EQ(session.Status().sendsFailed, 0u);
    std::this_thread::sleep_for(50ms);
    const int afterClose = device.Probes();
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(device.Probes(), afterClose) << "nothing is sent after Close";

    SearchTarget tooMany = sweep;
    tooMany.last = 0x7F020000u;
    EXPECT_FALSE(session.SetTargets({tooMany}, problem));
    EXPECT_NE(problem.find("65537"), std::string::npos) << problem;
}

TEST(SearchSession, PortHeldByAnotherProgramIsReportedAndALaterStartRetries) {
    const int holder = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(holder, reinterpret_cast<sockaddr*>(&local), sizeof local), 0);
    socklen_t length = sizeof local;
    getsockname(holder, reinterpret_cast<sockaddr*>(&local), &length);

    SearchSessionOptions options = LoopbackOptions(9, {0});
    options.addresses.localPort = ntohs(local.sin_port);
    SearchSession session(options);
    EXPECT_FALSE(session.Start());
    SessionStatus status = session.Status();
    EXPECT_EQ(status.state, SearchState::kCannotOpen);
    EXPECT_EQ(status.openError, EADDRINUSE);
    EXPECT_NE(status.problem.find("cannot bind UDP port"), std::string::npos) << status.problem;
    EXPECT_EQ(DescribeStatus(status).rfind("Cannot search for devices: cannot bind UDP port", 0), 0u);
    EXPECT_FALSE(session.IsOpen());

    close(holder);
    EXPECT_TRUE(session.Start());
    EXPECT_EQ(session.Status().state, SearchState::kSearching);
    EXPECT_EQ(session.LocalPort(), ntohs(local.sin_port));
}

}  // namespace
}  // namespace vantrel
