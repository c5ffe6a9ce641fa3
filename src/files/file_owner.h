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

// The user that files made by this process in folder should belong to: the folder's owner for root, else
// the effective user. -1 when folder cannot be looked at.
uid_t OwnerForNewFiles(const std::string& folder);

// A warning naming folder when users other than this one (and root) may add, remove or rename files in it:
// writable by its group or by every user, or another user's. Empty when only we may; also when it cannot be
// looked at (whoever opens files there says why).
std::string FolderOpenToOthers(const std::string& folder);

// "nobody (uid 65534)", or "uid 4242" for a uid without a name.
std::string DescribeUser(uid_t uid);

}  // namespace vantrel
