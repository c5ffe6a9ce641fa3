#include "password/password.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <string>

#include "as_nobody.h"
#include "temp_folder.h"

using namespace vantrel;

namespace {

class PasswordTest : public ::testing::Test {
protected:
    std::string KeyPath() const { return folder_.Path() + kKeyFileName; }

    std::string Encrypt(const char* plain) {
        char out[kCipherBufferSize];
        EXPECT_EQ(EncryptStringEX(plain, out, 1, key_), 1);
        return out;
    }

    std::string Decrypt(const std::string& cipher, int expected = 1) {
        char field[kPlainFieldSize + 8];
        std::memset(field, 0x5A, sizeof field);
        std::memset(field, 0x7F, kPlainFieldSize);
        EXPECT_EQ(DecryptStringEX(cipher.c_str(), field, 1, key_), expected);
        for (std::size_t i = kPlainFieldSize; i < sizeof field; ++i) {
            EXPECT_EQ(field[i], 0x5A) << "written past the field at " << i;
        }
        return std::string(field, strnlen(field, kPlainFieldSize));
    }

    TempFolder folder_;
    KeyFile key_ = KeyFile::ForDatabase(folder_.Path() + "Data.xml");
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
    EXPECT_EQ(EncryptStringEX(plain, out, 1, key_), 0);
    EXPECT_EQ(out[0], '\0');
    EXPECT_EQ(EncryptStringEX(nullptr, out, 1, key_), 0);
    EXPECT_EQ(EncryptStringEX("x", out, 2, key_), 0);
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
    KeyFile otherKey = KeyFile::ForDatabase(other.Path() + "Data.xml");
    char out[kCipherBufferSize];
    ASSERT_EQ(EncryptStringEX("secret", out, 1, otherKey), 1);
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

// Every key file that cannot be used says which file and why, and is left as it is.
TEST_F(PasswordTest, UnusableKeyFileIsNamedWithTheReasonAndLeftAlone) {
    struct Case {
        const char* what;
        std::function<void(const std::string&)> make;
        KeyStatus status;
        std::string reason;
    };
    const Case cases[] = {
        {"short", [](const std::string& p) { WriteWholeFile(p, "short"); }, KeyStatus::WrongSize,
         " holds 5 bytes instead of 32"},
        {"long", [](const std::string& p) { WriteWholeFile(p, std::string(100, 'k')); }, KeyStatus::WrongSize,
         " holds 100 bytes instead of 32"},
        {"folder", [](const std::string& p) { std::filesystem::create_directory(p); }, KeyStatus::NotRegularFile,
         " is not a regular file"},
        {"FIFO", [](const std::string& p) { ASSERT_EQ(mkfifo(p.c_str(), 0600), 0); }, KeyStatus::NotRegularFile,
         " is not a regular file"},
        {"link to a good key",
         [this](const std::string& p) {
             WriteWholeFile(folder_.Path() + "real.key", std::string(32, 'k'));
             ASSERT_EQ(symlink((folder_.Path() + "real.key").c_str(), p.c_str()), 0);
         },
         KeyStatus::NotRegularFile, " is not a regular file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove_all(KeyPath());
        c.make(KeyPath());
        struct stat before {};
        ASSERT_EQ(lstat(KeyPath().c_str(), &before), 0);
        char out[kCipherBufferSize];
        EXPECT_EQ(EncryptStringEX("secret", out, 1, key_), 0);
        EXPECT_EQ(out[0], '\0');
        EXPECT_EQ(key_.State().status, c.status);
        EXPECT_EQ(key_.State().problem, "the key file " + KeyPath() + c.reason);
        struct stat after {};
        ASSERT_EQ(lstat(KeyPath().c_str(), &after), 0);
        EXPECT_EQ(after.st_ino, before.st_ino);
        EXPECT_EQ(after.st_size, before.st_size);
    }
}

TEST_F(PasswordTest, MissingFolderMakesEnciphermentFail) {
    char out[kCipherBufferSize];
    KeyFile absent = KeyFile::ForDatabase(folder_.Path() + "absent/Data.xml");
    EXPECT_EQ(EncryptStringEX("secret", out, 1, absent), 0);
    EXPECT_EQ(absent.State().status, KeyStatus::NotCreated);
    KeyFile none = KeyFile::ForDatabase("");
    EXPECT_EQ(EncryptStringEX("secret", out, 1, none), 0);
}

// A key others could read is made private when it is ours, and told about either way.
TEST_F(PasswordTest, KeyReadableByOthersIsToldAndTightenedWhenOurs) {
    std::string cipher = Encrypt("secret");
    ASSERT_EQ(chmod(KeyPath().c_str(), 0644), 0);
    KeyFile fresh = KeyFile::ForDatabase(folder_.Path() + "Data.xml");
    EXPECT_TRUE(fresh.Check().Ready());
    EXPECT_EQ(fresh.State().warning.rfind("The key file " + KeyPath() +
                                              " could be read by other users (mode 0644); it "
                                              "is now readable by its owner alone.",
                                          0),
              0u)
        << fresh.State().warning;
    struct stat info {};
    ASSERT_EQ(stat(KeyPath().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    if (geteuid() == 0) {
        // another user's key is not ours to change
        ASSERT_EQ(chown(KeyPath().c_str(), 65534, 65534), 0);
        ASSERT_EQ(chmod(KeyPath().c_str(), 0640), 0);
        KeyFile theirs = KeyFile::ForDatabase(folder_.Path() + "Data.xml");
        EXPECT_TRUE(theirs.Check().Ready());
        EXPECT_NE(theirs.State().warning.find("(mode 0640, owner nobody (uid 65534))"), std::string::npos)
            << theirs.State().warning;
        ASSERT_EQ(stat(KeyPath().c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, 0640u);
    }
    EXPECT_EQ(Decrypt(cipher), "secret");
}

// One `sudo` run in the user's folder makes the key: it is the user's, so the user's next run reads it.
// A key root left before this was mended cannot be read, and says so.
TEST_F(PasswordTest, KeyMadeByRootBelongsToTheOwnerOfTheDatabase) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root";
    }
    ASSERT_EQ(chmod(folder_.Path().c_str(), 0755), 0);
    ASSERT_EQ(chown(folder_.Path().c_str(), 65534, 65534), 0);
    std::string database = folder_.Path() + "Data.xml";
    std::string cipher = Encrypt("secret");
    struct stat info {};
    ASSERT_EQ(stat(KeyPath().c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, 65534u);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    auto decipherAsNobody = [database, cipher](std::string expectedProblem) {
        return AsNobody([database, cipher, expectedProblem] {
            KeyFile key = KeyFile::ForDatabase(database);
            char field[kPlainFieldSize];
            int done = DecryptStringEX(cipher.c_str(), field, 1, key);
            if (expectedProblem.empty()) {
                return done == 1 && std::string(field) == "secret" ? 0 : 1;
            }
            return done == 0 && key.State().problem == expectedProblem ? 0 : 2;
        });
    };
    EXPECT_EQ(decipherAsNobody(""), 0);
    ASSERT_EQ(chown(KeyPath().c_str(), 0, 0), 0);
    EXPECT_EQ(decipherAsNobody("the key file " + KeyPath() + " cannot be read: Permission denied"), 0);
}

}  // namespace
