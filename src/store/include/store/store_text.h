#pragma once

// Text rules of the database: what may be written into an attribute and how stored texts fit record fields.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "records/text_field.h"

namespace vantrel {

// The first character of text that an attribute value cannot hold, described for a message ("a double quote
// (\")", "a less-than sign (<)", "an ampersand (&)"); nullptr when there is none. A double quote would end the
// value early, and "<" or "&" make the file something other readers no longer take for XML.
const char* UnstorableCharacter(std::string_view text);

// True when UnstorableCharacter finds nothing.
bool IsStorableText(std::string_view text);

// Both checks at once for a fixed field.
bool IsStorableField(const char* field, std::size_t size);

// "%u" text of a number.
std::string UnsignedText(std::uint32_t number);

// The number of a text in the exact "%u" form (no sign, spaces or leading zeros); nullopt otherwise.
std::optional<std::uint32_t> CanonicalUnsigned(std::string_view text);

}  // namespace vantrel
