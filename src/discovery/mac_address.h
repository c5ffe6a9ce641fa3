#pragma once

#include <string>
#include <string_view>

namespace vantrel {

// Value of one hexadecimal digit (any case), -1 for any other character.
int HexDigitValue(char c);

// A MAC written as twelve hexadecimal digits in any case, with or without ':', '-' or '.' between them
// ("00-1A-2B-3C-4D-5E", "001a.2b3c.4d5e"), as "00:1a:2b:3c:4d:5e"; empty when it is not one.
std::string NormalisedMac(std::string_view text);

}  // namespace vantrel
