#include "mac_address.h"

namespace vantrel {

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

std::string NormalisedMac(std::string_view text) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string mac;
    std::size_t digits = 0;
    for (const char c : text) {
        const int value = HexDigitValue(c);
        if (value < 0) {
            if (c != ':' && c != '-' && c != '.') {
                return {};
            }
            continue;
        }
        if (++digits > 12) {
            return {};
        }
        if (digits > 1 && digits % 2 == 1) {
            mac += ':';
        }
        mac += kDigits[value];
    }
    return digits == 12 ? mac : std::string();
}

}  // namespace vantrel
