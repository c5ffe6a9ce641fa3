#pragma once

// Enciphers device passwords for the database. Authenticated encryption (libsodium secretbox) under the
// 32-byte key of a KeyFile; the enciphered text is printable ASCII.

#include <cstddef>

#include "password/key_file.h"

namespace vantrel {

inline constexpr std::size_t kCipherBufferSize = 256;  // output buffer of EncryptStringEX
inline constexpr std::size_t kPlainFieldSize = 64;     // output field of DecryptStringEX

// Writes the enciphered form of plain (at most 63 bytes) into out (kCipherBufferSize bytes, NUL-terminated)
// and returns 1. Creates the key file on first use. Returns 0 with out emptied when the text is null or too
// long, mode is not 1, or the key cannot be read or created (key.State() says why).
int EncryptStringEX(const char* plain, char* out, int mode, KeyFile& key);

// Writes the plain text into out (at most kPlainFieldSize bytes, terminator included) and returns 1.
// A text that fails authentication, a missing or unusable key (key.State() says why) or a bad mode leave out
// empty and return 0; an empty text gives an empty password and 1. Never creates a key.
int DecryptStringEX(const char* cipher, char* out, int mode, KeyFile& key);

}  // namespace vantrel
