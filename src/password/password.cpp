#include "password/password.h"

#include <sodium.h>
#include <sys/stat.h>

#include <cstring>
#include <map>
#include <mutex>

#include "password/key_file.h"

namespace vantrel {
namespace {

constexpr char kPrefix[] = "v1:";
constexpr std::size_t kPrefixLength = sizeof kPrefix - 1;
constexpr int kVariant = sodium_base64_VARIANT_URLSAFE_NO_PADDING;
constexpr std::size_t kMaxPlain = kPlainFieldSize - 1;
constexpr std::size_t kMaxBlob = crypto_secretbox_NONCEBYTES + crypto_secretbox_MACBYTES + kMaxPlain;

static_assert(kPrefixLength + sodium_base64_ENCODED_LEN(kMaxBlob, kVariant) <= kCipherBufferSize,
              "a 63-byte password must encipher into the 256-byte buffer");

// A key read before, with the identity of the file it came from: a key file that was removed or replaced
// since is read again, so that nothing is ever enciphered under a key that is no longer on disk.
struct CachedKey {
    PasswordKey key{};
    struct stat file {};
};

std::mutex gMutex;
std::string gDefaultKeyPath;
std::map<std::string, CachedKey> gKeys;

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
           a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec &&
           a.st_ctim.tv_sec == b.st_ctim.tv_sec && a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

void Forget(std::map<std::string, CachedKey>::iterator entry) {
    sodium_memzero(entry->second.key.data(), entry->second.key.size());
    gKeys.erase(entry);
}

bool GetKey(const std::string& keyPath, bool create, PasswordKey& key) {
    if (sodium_init() < 0) {
        return false;
    }
    std::lock_guard<std::mutex> lock(gMutex);
    struct stat now {};
    bool exists = ::stat(keyPath.c_str(), &now) == 0;
    auto found = gKeys.find(keyPath);
    if (found != gKeys.end()) {
        if (exists && SameFile(found->second.file, now)) {
            key = found->second.key;
            return true;
        }
        Forget(found);
    }
    if (!LoadOrCreateKey(keyPath, create, key)) {
        return false;
    }
    CachedKey cached;
    cached.key = key;
    if (::stat(keyPath.c_str(), &cached.file) == 0) {
        gKeys[keyPath] = cached;
    }
    sodium_memzero(cached.key.data(), cached.key.size());
    return true;
}

std::string DefaultKeyPath() {
    std::lock_guard<std::mutex> lock(gMutex);
    return gDefaultKeyPath;
}

}  // namespace

void SetPasswordKeyFile(const std::string& keyPath) {
    std::lock_guard<std::mutex> lock(gMutex);
    gDefaultKeyPath = keyPath;
}

int EncryptStringEX(const char* plain, char* out, int mode) {
    return EncryptStringEX(plain, out, mode, DefaultKeyPath());
}

int EncryptStringEX(const char* plain, char* out, int mode, const std::string& keyPath) {
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
    if (!GetKey(keyPath, true, key)) {
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

int DecryptStringEX(const char* cipher, char* out, int mode) {
    return DecryptStringEX(cipher, out, mode, DefaultKeyPath());
}

int DecryptStringEX(const char* cipher, char* out, int mode, const std::string& keyPath) {
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
    if (!GetKey(keyPath, false, key)) {
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
