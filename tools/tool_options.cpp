#include "tool_options.h"

#include <arpa/inet.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace vantrel {

bool ParseUnsigned(const std::string& text, unsigned long long maximum, unsigned long long& value) {
    if (text.empty() || text[0] < '0' || text[0] > '9') {
        return false;
    }
    errno = 0;
    char* end = nullptr;
    const unsigned long long parsed = std::strtoull(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || parsed > maximum) {
        return false;
    }
    value = parsed;
    return true;
}

bool ParseAddress(const std::string& text, std::uint32_t& networkOrder) {
    in_addr address{};
    if (inet_pton(AF_INET, text.c_str(), &address) != 1) {
        return false;
    }
    networkOrder = address.s_addr;
    return true;
}

int ReportUsageProblem(const char* tool, const std::string& problem) {
    std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", tool, problem.c_str(), tool);
    return 1;
}

bool HandleInfoOption(const std::string& option, const char* tool, const char* usage) {
    if (option == "--help") {
        std::fputs(usage, stdout);
        return true;
    }
    if (option == "--version") {
        std::printf("%s %s\n", tool, VANTREL_VERSION);
        return true;
    }
    return false;
}

}  // namespace vantrel
