#include "password/password.h"

#include <sodium.h>

#include <cstring>

namespace vantrel {
namespace {

constexpr char kPrefix[] = "v1:";
constexpr std::size_t kPrefixLength = sizeof kPrefix - 1;
constexpr int kVariant = sodium_base64_VARIANT_URLSAFE_NO_PADDING;
constexpr std::size_t kMaxPlain = kPlainFieldSize - 1;
constexpr std::size_t kMaxBlob = crypto_secretbox_NONCEBYTES + crypto_secretbox_MACBYTES + kMaxPlain;

static_assert(kPrefixLength + sodium_base64_ENCODED_LEN(kMaxBlob, kVariant) <= kCipherBufferSize,
              "a 63-byte password must encipher into the 256-byte buffer");

}  // namespace

int EncryptStringEX(const char* plain, char* out, int mode, KeyFile& keyFile) {
    if (out == nullptr) {
        return 0;
    }
    std::memset(out, 0, kCipherBufferSize);
    if (plain == nullptr || mode != 1) {
        return 0;
    }
    std::size_t length = strnlen(plain, kPlainFieldSize);
    if (length > kMaxPlain) {
        return 0;
    }
    PasswordKey key;
    if (!keyFile.Load(true, key).Ready()) {
        return 0;
    }
    unsigned char blob[kMaxBlob];
    unsigned char* nonce = blob;
    randombytes_buf(nonce, crypto_secretbox_NONCEBYTES);
    crypto_secretbox_easy(blob + crypto_secretbox_NONCEBYTES, reinterpret_cast<const unsigned char*>(plain), length,
                          nonce, key.data());
    sodium_memzero(key.data(), key.size());
    std::size_t blobLength = crypto_secretbox_NONCEBYTES + crypto_secretbox_MACBYTES + length;
    std::memcpy(out, kPrefix, kPrefixLength);
    sodium_bin2base64(out + kPrefixLength, kCipherBufferSize - kPrefixLength, blob, blobLength, kVariant);
    return 1;
}

int DecryptStringEX(const char* cipher, char* out, int mode, KeyFile& keyFile) {
    if (out == nullptr) {
        return 0;
    }
    std::memset(out, 0, kPlainFieldSize);
    if (cipher == nullptr || mode != 1) {
        return 0;
    }
    if (cipher[0] == '\0') {
        return 1;
    }
    std::size_t length = strnlen(cipher, kCipherBufferSize);
    if (length >= kCipherBufferSize || length < kPrefixLength || std::memcmp(cipher, kPrefix, kPrefixLength) != 0) {
        return 0;
    }
    unsigned char blob[kMaxBlob];
    std::size_t blobLength = 0;
    if (sodium_base642bin(blob, sizeof blob, cipher + kPrefixLength, length - kPrefixLength, nullptr, &blobLength,
                          nullptr, kVariant) != 0 ||
        blobLength < crypto_secretbox_NONCEBYTES + crypto_secretbox_MACBYTES) {
        return 0;
    }
    PasswordKey key;
    if (!keyFile.Load(false, key).Ready()) {
        return 0;
    }
    unsigned char plain[kMaxPlain];
    std::size_t boxLength = blobLength - crypto_secretbox_NONCEBYTES;
    int opened = crypto_secretbox_open_easy(plain, blob + crypto_secretbox_NONCEBYTES, boxLength, blob, key.data());
    sodium_memzero(key.data(), key.size());
    if (opened != 0) {
        return 0;
    }
    std::size_t plainLength = boxLength - crypto_secretbox_MACBYTES;
    std::memcpy(out, plain, plainLength);
    sodium_memzero(plain, sizeof plain);
    return 1;
}

}  // namespace vantrel
