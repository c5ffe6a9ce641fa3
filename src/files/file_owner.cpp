#include "files/file_owner.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdio>
#include <vector>

namespace vantrel {
namespace {

bool SameTime(const struct timespec& a, const struct timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

}  // namespace

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool SameFileState(const struct stat& a, const struct stat& b) {
    return SameFile(a, b) && a.st_size == b.st_size && SameTime(a.st_mtim, b.st_mtim) && SameTime(a.st_ctim, b.st_ctim);
}

bool OwnedByUs(const struct stat& file, const struct stat& folder) {
    const uid_t self = geteuid();
    return file.st_uid == self || (self == 0 && file.st_uid == folder.st_uid);
}

bool NewFileLike(const std::string& folder, mode_t mode, struct stat& like) {
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0) {
        return false;
    }
    like = info;
    if (geteuid() != 0) {
        like.st_uid = geteuid();
        like.st_gid = getegid();
    }
    like.st_mode = S_IFREG | (mode & 07777);
    return true;
}

std::string DescribeUser(uid_t uid) {
    std::string number = "uid " + std::to_string(uid);
    long wanted = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(wanted > 0 ? static_cast<std::size_t>(wanted) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr ||
        found->pw_name == nullptr) {
        return number;
    }
    return std::string(found->pw_name) + " (" + number + ")";
}

std::string FolderOpenToOthers(const std::string& folder) {
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        return std::string();
    }
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
    std::string who;
    if ((info.st_mode & S_IWOTH) != 0) {
        who = "every user may";
    } else if ((info.st_mode & S_IWGRP) != 0) {
        who = "the members of its group may";
    } else if (info.st_uid != geteuid() && info.st_uid != 0) {
        who = "it belongs to " + DescribeUser(info.st_uid) + ", who may";
    } else {
        return std::string();
    }
    return "The data folder " + folder + " is open to other users (mode " + mode + "): " + who +
           " add, replace or remove the database, its key and its lock files there. Make it writable by you alone "
           "(chmod go-w).";
}

}  // namespace vantrel
