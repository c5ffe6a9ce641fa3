#pragma once

// Whether registered devices take a TCP connection at their address and port: a connect with a bounded time,
// a bounded number at once, and nothing sent. Only dotted-decimal IPv4 addresses are tried (a name would need a
// DNS query). Blocking: run it off the window's thread.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vantrel {

struct TcpTarget {
    std::string host;  // dotted decimal
    std::uint16_t port = 0;
};

enum class TcpOutcome { kConnected, kRefused, kNoAnswer, kFailed, kNotAnAddress, kCancelled };

struct TcpCheckResult {
    TcpOutcome outcome = TcpOutcome::kCancelled;
    std::uint32_t milliseconds = 0;  // until the connection stood (kConnected)
    int error = 0;                   // errno for kFailed
};

struct TcpCheckOptions {
    std::chrono::milliseconds timeout{3000};    // per connection attempt
    std::size_t parallel = 32;                  // attempts under way at once
    const std::atomic<bool>* cancel = nullptr;  // set: the attempts under way end as kCancelled, no more start
};

// One result per target, in target order; onResult (if given) is called on this thread as each one is known.
std::vector<TcpCheckResult> CheckTcp(const std::vector<TcpTarget>& targets, const TcpCheckOptions& options,
                                     const std::function<void(std::size_t, const TcpCheckResult&)>& onResult = {});

// "connected in 3 ms", "refused", "no answer", "failed: network is unreachable", "not an IPv4 address".
std::string DescribeTcpResult(const TcpCheckResult& result);

}  // namespace vantrel
