#include "discovery/tcp_check.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>

namespace vantrel {
namespace {

using Clock = std::chrono::steady_clock;

// A cancel is noticed at least this often while attempts wait.
constexpr std::chrono::milliseconds kCancelPoll{50};

struct Attempt {
    std::size_t index = 0;
    int fd = -1;
    Clock::time_point start;
};

std::uint32_t MillisecondsSince(Clock::time_point start) {
    return static_cast<std::uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

TcpCheckResult FromError(int error, Clock::time_point start) {
    if (error == 0) {
        return TcpCheckResult{TcpOutcome::kConnected, MillisecondsSince(start), 0};
    }
    if (error == ECONNREFUSED) {
        return TcpCheckResult{TcpOutcome::kRefused, 0, error};
    }
    return TcpCheckResult{TcpOutcome::kFailed, 0, error};
}

// Starts the attempt; false with result set when it ended at once.
bool Start(const TcpTarget& target, Attempt& attempt, TcpCheckResult& result) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(target.port);
    if (inet_pton(AF_INET, target.host.c_str(), &address.sin_addr) != 1) {
        result = TcpCheckResult{TcpOutcome::kNotAnAddress, 0, 0};
        return false;
    }
    attempt.start = Clock::now();
    attempt.fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (attempt.fd < 0) {
        result = FromError(errno, attempt.start);
        return false;
    }
    int error = connect(attempt.fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 ? 0 : errno;
    if (error != EINPROGRESS) {
        result = FromError(error, attempt.start);
        close(attempt.fd);
        return false;
    }
    return true;
}

int PendingError(int fd) {
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
        return errno;
    }
    return error;
}

}  // namespace

std::vector<TcpCheckResult> CheckTcp(const std::vector<TcpTarget>& targets, const TcpCheckOptions& options,
                                     const std::function<void(std::size_t, const TcpCheckResult&)>& onResult) {
    std::vector<TcpCheckResult> results(targets.size());
    auto finish = [&](std::size_t index, const TcpCheckResult& result) {
        results[index] = result;
        if (onResult) {
            onResult(index, result);
        }
    };
    auto cancelled = [&options] { return options.cancel != nullptr && options.cancel->load(); };
    std::vector<Attempt> active;
    std::size_t next = 0;
    const std::size_t parallel = std::max<std::size_t>(options.parallel, 1);
    while ((next < targets.size() && !cancelled()) || !active.empty()) {
        while (next < targets.size() && active.size() < parallel && !cancelled()) {
            Attempt attempt{next, -1, {}};
            TcpCheckResult result;
            if (Start(targets[next], attempt, result)) {
                active.push_back(attempt);
            } else {
                finish(next, result);
            }
            ++next;
        }
        if (active.empty()) {
            continue;
        }
        std::vector<pollfd> fds;
        Clock::time_point earliest = Clock::time_point::max();
        for (const Attempt& attempt : active) {
            fds.push_back(pollfd{attempt.fd, POLLOUT, 0});
            earliest = std::min(earliest, attempt.start + options.timeout);
        }
        auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(earliest - Clock::now());
        wait = std::clamp(wait, std::chrono::milliseconds(0), kCancelPoll);
        poll(fds.data(), fds.size(), static_cast<int>(wait.count()));
        bool stop = cancelled();
        std::vector<Attempt> still;
        for (std::size_t i = 0; i < active.size(); ++i) {
            const Attempt& attempt = active[i];
            if (fds[i].revents != 0) {
                finish(attempt.index, FromError(PendingError(attempt.fd), attempt.start));
            } else if (stop) {
                finish(attempt.index, TcpCheckResult{TcpOutcome::kCancelled, 0, 0});
            } else if (Clock::now() >= attempt.start + options.timeout) {
                finish(attempt.index, TcpCheckResult{TcpOutcome::kNoAnswer, 0, 0});
            } else {
                still.push_back(attempt);
                continue;
            }
            close(attempt.fd);
        }
        active = std::move(still);
    }
    return results;
}

std::string DescribeTcpResult(const TcpCheckResult& result) {
    switch (result.outcome) {
        case TcpOutcome::kConnected:
            return "connected in " + std::to_string(result.milliseconds) + " ms";
        case TcpOutcome::kRefused:
            return "refused";
        case TcpOutcome::kNoAnswer:
            return "no answer";
        case TcpOutcome::kFailed: {
            std::string text = std::strerror(result.error);
            if (!text.empty()) {
                text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
            }
            return "failed: " + text;
        }
        case TcpOutcome::kNotAnAddress:
            return "not an IPv4 address";
        case TcpOutcome::kCancelled:
            break;
    }
    return "not checked";
}

}  // namespace vantrel
