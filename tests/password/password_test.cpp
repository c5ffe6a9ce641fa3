#include "password/password.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "temp_folder.h"

using namespace vantrel;

namespace {

class PasswordTest : public ::testing::Test {
protected:
    std::string KeyPath() const { return folder_.Path() + kKeyFileName; }

    std::string Encrypt(const char* plain) {
        char out[kCipherBufferSize];
        EXPECT_EQ(EncryptStringEX(plain, out, 1, KeyPath()), 1);
        return out;
    }

    std::string Decrypt(const std::string& cipher, int expected = 1) {
        char field[kPlainFieldSize + 8];
        std::memset(field, 0x5A, sizeof field);
        std::memset(field, 0x7F, kPlainFieldSize);
        EXPECT_EQ(DecryptStringEX(cipher.c_str(), field, 1, KeyPath()), expected);
        for (std::size_t i = kPlainFieldSize; i < sizeof field; ++i) {
            EXPECT_EQ(field[i], 0x5A) << "written past the field at " << i;
        }
        return std::string(field, strnlen(field, kPlainFieldSize));
    }

    TempFolder folder_;
};

TEST_F(PasswordTest, RoundTripKeepsEveryLengthAndByte) {
    const std::string cases[] = {
        "", "a", "secret", "p\xC3\xA4ss \"<&>\"", std::string(63, 'x'), std::string(62, 'y') + "\x7F"};
    for (const std::string& plain : cases) {
        std::string cipher = Encrypt(plain.c_str());
        EXPECT_EQ(cipher.rfind("v1:", 0), 0u);
        EXPECT_LE(cipher.size(), 255u);
        for (char c : cipher) {
            EXPECT_TRUE(c > ' ' && c < 0x7F && c != '"' && c != '<' && c != '&') << cipher;
        }
        EXPECT_EQ(Decrypt(cipher), plain);
    }
}

TEST_F(PasswordTest, SameTextEnciphersDifferentlyEachTime) {
    EXPECT_NE(Encrypt("secret"), Encrypt("secret"));
}

TEST_F(PasswordTest, RefusesTextThatDoesNotFitAField) {
    char plain[kPlainFieldSize];
    std::memset(plain, 'x', sizeof plain);  // no terminator within 64 bytes
    char out[kCipherBufferSize];
    std::memset(out, 'z', sizeof out);
    EXPECT_EQ(EncryptStringEX(plain, out, 1, KeyPath()), 0);
    EXPECT_EQ(out[0], '\0');
    EXPECT_EQ(EncryptStringEX(nullptr, out, 1, KeyPath()), 0);
    EXPECT_EQ(EncryptStringEX("x", out, 2, KeyPath()), 0);
}

TEST_F(PasswordTest, TamperedOrForeignTextGivesEmptyField) {
    std::string cipher = Encrypt("secret");
    std::string flipped = cipher;
    flipped[10] = flipped[10] == 'A' ? 'B' : 'A';
    const std::string bad[] = {
        flipped, cipher.substr(0, cipher.size() - 2), "v2" + cipher.substr(2), "plain-text-password", "v1:", "v1:!!!!"};
    for (const std::string& text : bad) {
        EXPECT_EQ(Decrypt(text, 0), "") << text;
    }

    // enciphered under another key
    TempFolder other;
    char out[kCipherBufferSize];
    ASSERT_EQ(EncryptStringEX("secret", out, 1, other.Path() + kKeyFileName), 1);
    EXPECT_EQ(Decrypt(out, 0), "");
}

TEST_F(PasswordTest, MissingKeyGivesEmptyFieldAndCreatesNothing) {
    std::string cipher = Encrypt("secret");
    std::filesystem::remove(KeyPath());
    EXPECT_EQ(Decrypt(cipher, 0), "");
    EXPECT_FALSE(std::filesystem::exists(KeyPath()));
    EXPECT_EQ(Decrypt("", 1), "");
}

TEST_F(PasswordTest, KeyFileIsPrivateAndNeverReplaced) {
    std::string cipher = Encrypt("secret");
    struct stat info {};
    ASSERT_EQ(stat(KeyPath().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(info.st_size, 32);
    std::string key = ReadWholeFile(KeyPath());

    EXPECT_EQ(Decrypt(Encrypt("again")), "again");
    EXPECT_EQ(Decrypt(cipher), "secret");
    EXPECT_EQ(ReadWholeFile(KeyPath()), key);
    // no temporary files left beside it
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder_.Path()), {}), 1);
}

// A key file replaced while the program runs (restored from a backup, say) is the one used from then on:
// nothing is enciphered under a key that is no longer on disk.
TEST_F(PasswordTest, ReplacedKeyFileIsReadAgain) {
    std::string cipher = Encrypt("secret");
    std::string oldKey = ReadWholeFile(KeyPath());
    std::filesystem::remove(KeyPath());
    std::string fresh = Encrypt("other");  // makes a new key
    ASSERT_NE(ReadWholeFile(KeyPath()), oldKey);
    EXPECT_EQ(Decrypt(cipher, 0), "") << "the old password needs the old key";
    WriteWholeFile(KeyPath() + ".restored", oldKey);
    std::filesystem::rename(KeyPath() + ".restored", KeyPath());
    EXPECT_EQ(Decrypt(cipher), "secret");
    EXPECT_EQ(Decrypt(fresh, 0), "");
}

TEST_F(PasswordTest, DamagedKeyFileIsNeitherUsedNorReplaced) {
    WriteWholeFile(KeyPath(), "short");
    char out[kCipherBufferSize];
    EXPECT_EQ(EncryptStringEX("secret", out, 1, KeyPath()), 0);
    EXPECT_EQ(out[0], '\0');
    EXPECT_EQ(ReadWholeFile(KeyPath()), "short");
}

TEST_F(PasswordTest, MissingFolderMakesEnciphermentFail) {
    char out[kCipherBufferSize];
    EXPECT_EQ(EncryptStringEX("secret", out, 1, folder_.Path() + "absent/" + kKeyFileName), 0);
    EXPECT_EQ(EncryptStringEX("secret", out, 1, ""), 0);
}

TEST_F(PasswordTest, ThreeArgumentFormUsesTheConfiguredKeyFile) {
    SetPasswordKeyFile(KeyPath());
    char out[kCipherBufferSize];
    ASSERT_EQ(EncryptStringEX("secret", out, 1), 1);
    char field[kPlainFieldSize];
    ASSERT_EQ(DecryptStringEX(out, field, 1), 1);
    EXPECT_STREQ(field, "secret");
    EXPECT_TRUE(std::filesystem::exists(KeyPath()));
    SetPasswordKeyFile("");
}

}  // namespace
