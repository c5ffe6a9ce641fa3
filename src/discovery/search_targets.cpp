#include "discovery/search_targets.h"

#include <arpa/inet.h>

#include <cctype>
#include <cstdlib>

namespace vantrel {
namespace {

// shorter prefixes would broadcast to a sixteenth of the internet or more; nobody means that
constexpr int kShortestPrefix = 8;

std::string Trimmed(const std::string& text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && std::isspace(static_cast<unsigned char>(text[begin]))) {
        ++begin;
    }
    while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1]))) {
        --end;
    }
    return text.substr(begin, end - begin);
}

std::string HostOrderText(std::uint32_t address) {
    in_addr value{htonl(address)};
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &value, text, sizeof text);
    return text;
}

// strict dotted decimal: four numbers 0..255, no blanks, no leading '+'
bool ParseHostOrder(const std::string& text, std::uint32_t& address) {
    in_addr value{};
    // inet_pton would stop at an embedded NUL and take the text before it
    if (text.find('\0') != std::string::npos || inet_pton(AF_INET, text.c_str(), &value) != 1) {
        return false;
    }
    address = ntohl(value.s_addr);
    return true;
}

// What no search may probe: "this network", loopback, multicast, reserved and the limited broadcast.
const char* UnsearchableReason(std::uint32_t first, std::uint32_t last) {
    auto touches = [&](std::uint32_t low, std::uint32_t high) { return first <= high && last >= low; };
    if (touches(0x00000000u, 0x00FFFFFFu)) {
        return "0.0.0.0/8 is not a network that devices can be on";
    }
    if (touches(0x7F000000u, 0x7FFFFFFFu)) {
        return "loopback addresses (127.0.0.0/8) cannot be searched";
    }
    if (touches(0xE0000000u, 0xEFFFFFFFu)) {
        return "multicast addresses (224.0.0.0/4) cannot be searched";
    }
    if (touches(0xF0000000u, 0xFFFFFFFFu)) {
        return "reserved addresses and 255.255.255.255 (240.0.0.0/4) cannot be searched";
    }
    return nullptr;
}

bool Refuse(std::string& problem, const std::string& text, const std::string& why) {
    problem = "'" + text + "': " + why;
    return false;
}

}  // namespace

std::uint64_t SearchTarget::ProbeCount() const {
    return kind == Kind::kDirectedBroadcast ? 1 : std::uint64_t{last} - first + 1;
}

bool SearchTarget::Contains(std::uint32_t hostOrderAddress) const {
    return hostOrderAddress >= first && hostOrderAddress <= last;
}

bool ParseSearchTarget(const std::string& given, SearchTarget& target, std::string& problem) {
    const std::string text = Trimmed(given);
    if (text.empty()) {
        return Refuse(problem, given, "give a network such as 10.1.2.0/24 or a range such as 10.1.2.10-10.1.2.50");
    }
    SearchTarget parsed;
    const std::size_t slash = text.find('/');
    const std::size_t dash = text.find('-');
    if (slash != std::string::npos) {
        const std::string addressText = Trimmed(text.substr(0, slash));
        const std::string prefixText = Trimmed(text.substr(slash + 1));
        std::uint32_t address = 0;
        if (!ParseHostOrder(addressText, address)) {
            return Refuse(problem, text, "'" + addressText + "' is not an IPv4 address (four numbers 0 to 255)");
        }
        char* end = nullptr;
        const long prefix = prefixText.empty() || !std::isdigit(static_cast<unsigned char>(prefixText[0]))
                                ? -1
                                : std::strtol(prefixText.c_str(), &end, 10);
        if (prefix < 0 || end == nullptr || *end != '\0' || prefix > 32) {
            return Refuse(problem, text, "the prefix length after '/' must be a number from 8 to 32");
        }
        if (prefix < kShortestPrefix) {
            return Refuse(problem, text, "a network wider than /8 is not searched; give a longer prefix");
        }
        const std::uint32_t mask = ~std::uint32_t{0} << (32 - prefix);
        parsed.first = address & mask;
        parsed.last = parsed.first | ~mask;
        // /31 (two hosts, RFC 3021) and /32 have no broadcast address: probe each address instead
        parsed.kind = prefix >= 31 ? SearchTarget::Kind::kUnicastRange : SearchTarget::Kind::kDirectedBroadcast;
        parsed.text = HostOrderText(parsed.first) + "/" + std::to_string(prefix);
    } else if (dash != std::string::npos) {
        const std::string firstText = Trimmed(text.substr(0, dash));
        const std::string lastText = Trimmed(text.substr(dash + 1));
        if (!ParseHostOrder(firstText, parsed.first)) {
            return Refuse(problem, text, "'" + firstText + "' is not an IPv4 address (four numbers 0 to 255)");
        }
        if (!ParseHostOrder(lastText, parsed.last)) {
            return Refuse(problem, text, "'" + lastText + "' is not an IPv4 address (four numbers 0 to 255)");
        }
        if (parsed.last < parsed.first) {
            return Refuse(problem, text, "the range ends before it starts");
        }
        parsed.kind = SearchTarget::Kind::kUnicastRange;
        parsed.text = HostOrderText(parsed.first) + "-" + HostOrderText(parsed.last);
    } else {
        if (!ParseHostOrder(text, parsed.first)) {
            return Refuse(problem, text,
                          "not an IPv4 address, a network such as 10.1.2.0/24 or a range such as "
                          "10.1.2.10-10.1.2.50");
        }
        parsed.last = parsed.first;
        parsed.kind = SearchTarget::Kind::kUnicastRange;
        parsed.text = HostOrderText(parsed.first);
    }
    if (const char* reason = UnsearchableReason(parsed.first, parsed.last)) {
        return Refuse(problem, text, reason);
    }
    if (parsed.kind == SearchTarget::Kind::kUnicastRange && parsed.ProbeCount() > kMaxUnicastTargets) {
        return Refuse(problem, text,
                      "the range holds " + std::to_string(parsed.ProbeCount()) + " addresses; at most " +
                          std::to_string(kMaxUnicastTargets) +
                          " are probed one by one (use a network/prefix for "
                          "a directed broadcast)");
    }
    target = std::move(parsed);
    problem.clear();
    return true;
}

bool CheckUnicastTotal(const std::vector<SearchTarget>& targets, std::string& problem) {
    std::uint64_t total = 0;
    for (const SearchTarget& target : targets) {
        if (target.kind == SearchTarget::Kind::kUnicastRange) {
            total += target.ProbeCount();
        }
    }
    if (total > kMaxUnicastTargets) {
        problem = "the ranges hold " + std::to_string(total) + " addresses together; at most " +
                  std::to_string(kMaxUnicastTargets) + " are probed one by one";
        return false;
    }
    problem.clear();
    return true;
}

}  // namespace vantrel
