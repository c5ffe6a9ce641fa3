// The TCP check on loopback, inside the namespace the tests run in: a listening port, a closed one, a port whose
// backlog is full (the handshake gets no answer), and a cancel.

#include "discovery/tcp_check.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>

namespace vantrel {
namespace {

// A loopback TCP socket on a free port; listening when backlog >= 0.
class LoopbackPort {
public:
    explicit LoopbackPort(int backlog) {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        socklen_t length = sizeof address;
        getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        if (backlog >= 0) {
            listen(fd_, backlog);
        }
    }
    ~LoopbackPort() { close(fd_); }
    std::uint16_t Port() const { return port_; }

private:
    int fd_ = -1;
    std::uint16_t port_ = 0;
};

TEST(TcpCheck, ListeningClosedAndInvalidTargets) {
    LoopbackPort listening(8);
    LoopbackPort closed(-1);  // bound, not listening: the kernel answers with a reset
    std::vector<TcpTarget> targets{{"127.0.0.1", listening.Port()},
                                   {"127.0.0.1", closed.Port()},
                                   {"gate.example", 80},
                                   {"127.0.0.1", listening.Port()}};
    std::vector<std::size_t> order;
    std::vector<TcpCheckResult> results =
        CheckTcp(targets, TcpCheckOptions{std::chrono::milliseconds(2000), 2, nullptr},
                 [&order](std::size_t index, const TcpCheckResult&) { order.push_back(index); });
    ASSERT_EQ(results.size(), 4u);
    EXPECT_EQ(results[0].outcome, TcpOutcome::kConnected);
    EXPECT_EQ(results[1].outcome, TcpOutcome::kRefused);
    EXPECT_EQ(results[2].outcome, TcpOutcome::kNotAnAddress);
    EXPECT_EQ(results[3].outcome, TcpOutcome::kConnected);
    EXPECT_EQ(order.size(), 4u);
    EXPECT_EQ(DescribeTcpResult(results[1]), "refused");
    EXPECT_EQ(DescribeTcpResult(TcpCheckResult{TcpOutcome::kConnected, 12, 0}), "connected in 12 ms");
}

TEST(TcpCheck, HandshakeWithoutAnswerEndsAtTheTimeout) {
    // a backlog of 0 takes one connection; later handshakes are dropped unanswered while it is not accepted
    LoopbackPort full(0);
    std::vector<TcpTarget> targets(4, TcpTarget{"127.0.0.1", full.Port()});
    std::vector<TcpCheckResult> results =
        CheckTcp(targets, TcpCheckOptions{std::chrono::milliseconds(300), 1, nullptr});
    int noAnswer = 0;
    for (const TcpCheckResult& result : results) {
        noAnswer += result.outcome == TcpOutcome::kNoAnswer ? 1 : 0;
    }
    EXPECT_GE(noAnswer, 1);
    EXPECT_EQ(DescribeTcpResult(TcpCheckResult{TcpOutcome::kNoAnswer, 0, 0}), "no answer");
}

TEST(TcpCheck, CancelEndsEverythingUnderWayAndStartsNothingMore) {
    LoopbackPort listening(8);
    std::atomic<bool> cancel{true};
    std::vector<TcpCheckResult> results =
        CheckTcp({{"127.0.0.1", listening.Port()}}, TcpCheckOptions{std::chrono::milliseconds(2000), 1, &cancel});
    EXPECT_EQ(results[0].outcome, TcpOutcome::kCancelled);
}

}  // namespace
}  // namespace vantrel
