#pragma once

// Whose a file is: the files this program keeps beside the database (lock files, temporary files, the key)
// are trusted only when they belong to the user running it.

#include <sys/stat.h>
#include <sys/types.h>

#include <string>

namespace vantrel {

// Same device and inode: the same file, whatever happened to it since.
bool SameFile(const struct stat& a, const struct stat& b);

// The same file with the same size, modification and status-change times: nothing has touched it since a.
bool SameFileState(const struct stat& a, const struct stat& b);

// The owner of a file this process made or may trust in folder: the effective user, or for root the owner
// of folder, since files root makes there are given to that owner (a `sudo` run must not leave the user files
// they cannot use).
bool OwnedByUs(const struct stat& file, const struct stat& folder);

// A warning naming folder when users other than this one (and root) may add, remove or rename files in it:
// writable by its group or by every user, or another user's. Empty when only we may; also when it cannot be
// looked at (whoever opens files there says why).
std::string FolderOpenToOthers(const std::string& folder);

// The owner, group and mode (mode as given) for a new file in folder: the effective user and group, or for
// root the folder's owner and group, so that a `sudo` run leaves files the folder's owner can use. False when
// folder cannot be looked at.
bool NewFileLike(const std::string& folder, mode_t mode, struct stat& like);

// "nobody (uid 65534)", or "uid 4242" for a uid without a name.
std::string DescribeUser(uid_t uid);

}  // namespace vantrel
