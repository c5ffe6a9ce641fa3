#pragma once

#include <cstdint>
#include <string>

// Small parsers shared by the command-line tools; each gives false for text that is not a whole valid value.
bool ParseUnsigned(const std::string& text, unsigned long long maximum, unsigned long long& value);
// Dotted decimal IPv4 address to network byte order.
bool ParseAddress(const std::string& text, std::uint32_t& networkOrder);
