#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace vantrel {

using PasswordKey = std::array<std::uint8_t, 32>;

// Reads the key at keyPath; when the file is missing and create is set, makes a new random key there
// (mode 0600, written to a temporary file ".Data.key.tmp-XXXXXX" and linked into place, so an existing key is
// never replaced).
// False when the file cannot be read or created or does not hold exactly 32 bytes.
bool LoadOrCreateKey(const std::string& keyPath, bool create, PasswordKey& key);

}  // namespace vantrel
