#pragma once

// Enciphers device passwords for the database. Authenticated encryption (libsodium secretbox) under a
// 32-byte key kept in a key file beside the database; the enciphered text is printable ASCII.

#include <cstddef>
#include <string>

namespace vantrel {

inline constexpr std::size_t kCipherBufferSize = 256;  // output buffer of EncryptStringEX
inline constexpr std::size_t kPlainFieldSize = 64;     // output field of DecryptStringEX
inline constexpr const char* kKeyFileName = "Data.key";

// The key file used by the three-argument calls; empty (the default) makes them fail.
void SetPasswordKeyFile(const std::string& keyPath);

// Writes the enciphered form of plain (at most 63 bytes) into out (kCipherBufferSize bytes, NUL-terminated)
// and returns 1. Creates the key file (0600) on first use. Returns 0 with out emptied when the text is null or
// too long, mode is not 1, or the key cannot be read or created.
int EncryptStringEX(const char* plain, char* out, int mode);
int EncryptStringEX(const char* plain, char* out, int mode, const std::string& keyPath);

// Writes the plain text into out (at most kPlainFieldSize bytes, terminator included) and returns 1.
// A text that fails authentication, a missing key or a bad mode leave out empty and return 0; an empty text
// gives an empty password and 1. Never creates a key.
int DecryptStringEX(const char* cipher, char* out, int mode);
int DecryptStringEX(const char* cipher, char* out, int mode, const std::string& keyPath);

}  // namespace vantrel
