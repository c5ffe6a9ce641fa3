#pragma once

#include <cstdint>
#include <string>

namespace vantrel {

// Small parsers shared by the command-line tools; each gives false for text that is not a whole valid value.
bool ParseUnsigned(const std::string& text, unsigned long long maximum, unsigned long long& value);
// Dotted decimal IPv4 address to network byte order.
bool ParseAddress(const std::string& text, std::uint32_t& networkOrder);

// Prints "TOOL: PROBLEM" and a pointer to --help on stderr; gives the exit status for a usage error (1).
int ReportUsageProblem(const char* tool, const std::string& problem);
// --help prints the usage, --version "TOOL VERSION", both on stdout; true when option was one of them and the tool
// should exit with status 0.
bool HandleInfoOption(const std::string& option, const char* tool, const char* usage);

}  // namespace vantrel
