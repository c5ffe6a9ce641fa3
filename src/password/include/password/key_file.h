#pragma once

// The password key of a database: 32 random bytes in the file Data.key beside Data.xml. The store owns one
// KeyFile and hands it to EncryptStringEX / DecryptStringEX. Not for use from several threads at once.

#include <sys/stat.h>

#include <array>
#include <cstdint>
#include <string>

namespace vantrel {

inline constexpr const char* kKeyFileName = "Data.key";

using PasswordKey = std::array<std::uint8_t, 32>;

enum class KeyStatus {
    Ready,           // read (or made) and usable
    Missing,         // no file at the path (and none was to be made)
    Unreadable,      // could not be opened or read; error holds errno
    NotRegularFile,  // a symbolic link, folder, FIFO, device or socket
    WrongSize,       // not exactly 32 bytes
    NotCreated,      // missing, and a new one could not be made; error holds errno
};

// How the key file was found, with the reason in words.
struct KeyState {
    KeyStatus status = KeyStatus::Missing;
    int error = 0;
    // Names the file and says what is wrong ("the key file /d/Data.key cannot be read: Permission denied");
    // empty when Ready.
    std::string problem;
    // Names the file when others could read it ("... could be read by other users (mode 0644) ..."); empty
    // otherwise.
    std::string warning;

    bool Ready() const { return status == KeyStatus::Ready; }
};

class KeyFile {
public:
    // The key beside databasePath (its folder + kKeyFileName); a new key takes the owner of databasePath, or
    // of the folder when there is no database yet. An empty databasePath gives a key that is never there.
    static KeyFile ForDatabase(const std::string& databasePath);

    const std::string& Path() const { return path_; }

    // Gives the key: read again only when the file changed since it was last read. When the file is missing
    // and create is set, makes a new random key (mode 0600, written beside it as ".Data.key.tmp-XXXXXX" and
    // linked into place, so an existing key is never replaced). A key file of ours that others may read is
    // made private (0600) on reading; State().warning tells either way.
    KeyState Load(bool create, PasswordKey& key);

    // Looks at the key file as Load(false) would, without giving the key.
    KeyState Check();

    // The outcome of the last Load or Check.
    const KeyState& State() const { return state_; }

private:
    KeyFile(std::string path, std::string ownerSource);
    KeyState Read(PasswordKey& key);
    KeyState Create();
    void Forget();

    std::string path_;
    std::string ownerSource_;  // the file whose owner a new key gets
    KeyState state_;
    bool cached_ = false;
    PasswordKey cachedKey_{};
    struct stat cachedFile_ {};
};

}  // namespace vantrel
