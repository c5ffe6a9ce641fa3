// The file helpers on real files in a temporary folder: atomic placement, stale temporary files, the lock
// file, and reads that must not hang on what is not a regular file.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <set>
#include <string>

#include "as_nobody.h"
#include "files/atomic_file.h"
#include "files/content_hash.h"
#include "files/file_lock.h"
#include "files/file_paths.h"
#include "files/file_read.h"
#include "temp_folder.h"
#include "wait_until.h"

using namespace vantrel;

namespace {

FileWriter Bytes(const std::string& text) {
    return [text](int fd) { return WriteAll(fd, text.data(), text.size()); };
}

TEST(FilePaths, FolderAndNameOfAPath) {
    EXPECT_EQ(FolderOf("/a/b/Data.xml"), "/a/b/");
    EXPECT_EQ(FileNameOf("/a/b/Data.xml"), "Data.xml");
    EXPECT_EQ(FolderOf("/Data.xml"), "/");
    EXPECT_EQ(FolderOf("Data.xml"), "./");
    EXPECT_EQ(FileNameOf("Data.xml"), "Data.xml");
    EXPECT_EQ(FileNameOf("/a/"), "");
    EXPECT_EQ(TempFilePattern("/a/Data.key"), "/a/.Data.key.tmp-XXXXXX");
}

TEST(ContentHash, SameBytesSameValueHoweverSplit) {
    std::string text;
    for (int i = 0; i < 1000; ++i) {
        text += static_cast<char>(i * 7);
    }
    std::uint64_t whole = ContentHash::Of(text.data(), text.size());
    for (std::size_t step : {1u, 3u, 31u, 32u, 33u, 63u, 64u, 65u, 500u}) {
        ContentHash pieces;
        for (std::size_t at = 0; at < text.size(); at += step) {
            pieces.Add(text.data() + at, std::min(step, text.size() - at));
        }
        EXPECT_EQ(pieces.Value(), whole) << step;
    }
    for (std::size_t at : {0u, 7u, 8u, 15u, 16u, 31u, 32u, 63u, 64u, 999u}) {
        for (int bit = 0; bit < 8; ++bit) {
            std::string changed = text;
            changed[at] ^= static_cast<char>(1 << bit);
            EXPECT_NE(ContentHash::Of(changed.data(), changed.size()), whole) << at << " " << bit;
        }
    }
    // two blocks that trade places, and a change in an early block that a later one must carry on
    std::string swapped = text.substr(64, 64) + text.substr(0, 64) + text.substr(128);
    EXPECT_NE(ContentHash::Of(swapped.data(), swapped.size()), whole);
    EXPECT_NE(ContentHash::Of(text.data(), 999), whole) << "a cut tail";
    EXPECT_NE(ContentHash::Of("", 0), ContentHash::Of("\0", 1));
}

TEST(AtomicFile, ReplacesWholeOrNotAtAll) {
    TempFolder folder;
    std::string target = folder.Path() + "Data.xml";
    WriteWholeFile(target, "old");
    EXPECT_FALSE(WriteFileAtomically(
                     target, Placement::Replace, [](int fd) { return WriteAll(fd, "ne", 2) && false; }, nullptr)
                     .Ok());
    EXPECT_EQ(ReadWholeFile(target), "old");
    EXPECT_EQ(FolderEntries(folder.Path()), std::set<std::string>{"Data.xml"}) << "the temporary file is gone";

    AtomicWriteResult placed = WriteFileAtomically(target, Placement::Replace, Bytes("new"), nullptr);
    ASSERT_TRUE(placed.Ok());
    EXPECT_EQ(placed.error, 0);
    EXPECT_FALSE(placed.keptExisting);
    EXPECT_EQ(ReadWholeFile(target), "new");
    struct stat info {};
    ASSERT_EQ(stat(target.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(info.st_ino, placed.info.st_ino);
    EXPECT_EQ(FolderEntries(folder.Path()), std::set<std::string>{"Data.xml"});

    EXPECT_FALSE(WriteFileAtomically(folder.Path() + "absent/Data.xml", Placement::Replace, Bytes("x"), nullptr).Ok());
    EXPECT_FALSE(std::filesystem::exists(folder.Path() + "absent"));
}

std::size_t OpenDescriptors() {
    return FolderEntries("/proc/self/fd/").size();
}

// A large file that is replaced is let go of in the background: what is in place is always the new file, and
// nothing stays open once that is done, whether the rename succeeds or not.
TEST(AtomicFile, LargeReplacedFileLetGoWithoutADescriptorLeft) {
    TempFolder folder;
    std::string target = folder.Path() + "Data.xml";
    const std::string large(3 << 20, 'x');
    WriteWholeFile(target, large);
    std::size_t open = OpenDescriptors();
    for (int round = 0; round < 5; ++round) {
        std::string next = std::string(large.size() - round, static_cast<char>('a' + round));
        ASSERT_TRUE(WriteFileAtomically(target, Placement::Replace, Bytes(next), nullptr).Ok()) << round;
        EXPECT_EQ(ReadWholeFile(target), next) << round;
    }
    EXPECT_EQ(FolderEntries(folder.Path()), std::set<std::string>{"Data.xml"});
    EXPECT_TRUE(vantrel::testing::WaitUntil([&] { return OpenDescriptors() == open; }, std::chrono::seconds(10)));

    // a rename that fails (a file cannot take a folder's name) keeps the folder and closes what it opened
    std::string folderTarget = folder.Path() + "Taken";
    ASSERT_EQ(mkdir(folderTarget.c_str(), 0700), 0);
    WriteWholeFile(folderTarget + "/inside", large);
    AtomicWriteResult refused = WriteFileAtomically(folderTarget, Placement::Replace, Bytes(large), nullptr);
    EXPECT_FALSE(refused.Ok());
    EXPECT_EQ(refused.error, EISDIR);
    EXPECT_EQ(ReadWholeFile(folderTarget + "/inside"), large);
    EXPECT_EQ(OpenDescriptors(), open);
}

// The callers put the error number in the operator's message: a failure never reads as errno 0 ("Success").
TEST(AtomicFile, FailureCarriesTheErrorOfTheStepThatFailed) {
    TempFolder folder;
    struct Case {
        const char* what;
        std::string target;
        FileWriter writer;
        int error;
    };
    const Case cases[] = {
        {"writer fails without errno", folder.Path() + "Data.xml", [](int) { return false; }, EIO},
        {"writer fails with errno", folder.Path() + "Data.xml",
         [](int) {
             errno = ENOSPC;
             return false;
         },
         ENOSPC},
        {"missing folder", folder.Path() + "absent/Data.xml", Bytes("x"), ENOENT},
        {"no file name", folder.Path(), Bytes("x"), EINVAL},
        {"empty target", "", Bytes("x"), EINVAL},
    };
    for (const Case& c : cases) {
        AtomicWriteResult result = WriteFileAtomically(c.target, Placement::Replace, c.writer, nullptr);
        EXPECT_FALSE(result.Ok()) << c.what;
        EXPECT_EQ(result.error, c.error) << c.what;
        EXPECT_FALSE(result.keptExisting) << c.what;
    }
    EXPECT_TRUE(FolderEntries(folder.Path()).empty()) << "no temporary file is left";
}

TEST(AtomicFile, KeepExistingNeverReplaces) {
    TempFolder folder;
    std::string target = folder.Path() + "Data.key";
    AtomicWriteResult first = WriteFileAtomically(target, Placement::KeepExisting, Bytes("first"), nullptr);
    ASSERT_TRUE(first.Ok());
    EXPECT_FALSE(first.keptExisting);
    AtomicWriteResult second = WriteFileAtomically(target, Placement::KeepExisting, Bytes("second"), nullptr);
    ASSERT_TRUE(second.Ok()) << "finding the target there is no failure";
    EXPECT_TRUE(second.keptExisting);
    EXPECT_EQ(ReadWholeFile(target), "first");
    EXPECT_EQ(FolderEntries(folder.Path()), std::set<std::string>{"Data.key"});
}

TEST(AtomicFile, TakesOwnerGroupAndModeOfTheFileItReplaces) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "giving a file to another user needs root";
    }
    TempFolder folder;
    std::string target = folder.Path() + "Data.xml";
    WriteWholeFile(target, "old");
    ASSERT_EQ(chown(target.c_str(), 65534, 65534), 0);
    ASSERT_EQ(chmod(target.c_str(), 0640), 0);
    struct stat like {};
    ASSERT_EQ(stat(target.c_str(), &like), 0);
    ASSERT_TRUE(WriteFileAtomically(target, Placement::Replace, Bytes("new"), &like).Ok());
    struct stat info {};
    ASSERT_EQ(stat(target.c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, 65534u);
    EXPECT_EQ(info.st_gid, 65534u);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
}

TEST(AtomicFile, StaleTemporaryFilesOfTheTargetAloneAreRemoved) {
    TempFolder folder;
    std::string target = folder.Path() + "Data.xml";
    for (const char* name :
         {".Data.xml.tmp-a1B2c3", ".Data.xml.tmp-ZZZZZZ", "Data.xml", "Data.xml.backup", ".Data.xml.tmp-short",
          ".Data.xml.tmp-toolong1", ".Data.key.tmp-a1B2c3", ".Data.xml.tmp-ab.def", ".Data.xml.tmp-ab def"}) {
        WriteWholeFile(folder.Path() + name, "x");
    }
    std::filesystem::create_directory(folder.Path() + ".Data.xml.tmp-folder");
    bool asRoot = geteuid() == 0;
    if (asRoot) {
        // named like ours, but another user's
        WriteWholeFile(folder.Path() + ".Data.xml.tmp-abcdef", "theirs");
        ASSERT_EQ(chown((folder.Path() + ".Data.xml.tmp-abcdef").c_str(), 65534, 65534), 0);
    }
    EXPECT_EQ(RemoveStaleTempFiles(target), 2u);
    std::set<std::string> left{"Data.xml",
                               "Data.xml.backup",
                               ".Data.xml.tmp-short",
                               ".Data.xml.tmp-toolong1",
                               ".Data.key.tmp-a1B2c3",
                               ".Data.xml.tmp-folder",
                               ".Data.xml.tmp-ab.def",
                               ".Data.xml.tmp-ab def"};
    if (asRoot) {
        left.insert(".Data.xml.tmp-abcdef");
    }
    EXPECT_EQ(FolderEntries(folder.Path()), left);
    EXPECT_EQ(RemoveStaleTempFiles(folder.Path() + "absent/Data.xml"), 0u);
}

TEST(FileLock, OneHolderAtATimeAndReleasedWhenTheHolderDies) {
    TempFolder folder;
    std::string path = folder.Path() + ".Data.xml.lock";
    FileLock first;
    ASSERT_TRUE(first.Acquire(path, std::chrono::milliseconds(0)).Held());
    struct stat info {};
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    FileLock second;
    LockResult busy = second.Acquire(path, std::chrono::milliseconds(30));
    EXPECT_EQ(busy.status, LockStatus::Busy);
    EXPECT_EQ(busy.error, EWOULDBLOCK);
    first.Release();
    EXPECT_TRUE(second.Acquire(path, std::chrono::milliseconds(0)).Held());
    second.Release();

    // a holder that is killed leaves the lock free
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t child = fork();
    if (child == 0) {
        FileLock held;
        char ok = held.Acquire(path, std::chrono::milliseconds(0)).Held() ? 'y' : 'n';
        (void)!write(ready[1], &ok, 1);
        pause();
        _exit(0);
    }
    char ok = 0;
    ASSERT_EQ(read(ready[0], &ok, 1), 1);
    ASSERT_EQ(ok, 'y');
    busy = second.Acquire(path, std::chrono::milliseconds(0));
    EXPECT_EQ(busy.status, LockStatus::Busy);
    EXPECT_EQ(busy.holderPid, child) << "the holder is named";
    EXPECT_FALSE(busy.HeldByOtherUser());
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    EXPECT_TRUE(second.Acquire(path, std::chrono::milliseconds(0)).Held());
    close(ready[0]);
    close(ready[1]);
}

// What another local user can leave in the lock file's place is refused and named, never taken for a lock
// held by a second copy of the program; none of it is changed.
TEST(FileLock, LockFilesThatAreNotOursAreRefusedNamingWhy) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "planting another user's file needs root";
    }
    TempFolder folder;
    ASSERT_EQ(chmod(folder.Path().c_str(), 0755), 0);
    std::string path = folder.Path() + ".Data.xml.lock";
    std::string elsewhere = folder.Path() + "elsewhere";
    WriteWholeFile(elsewhere, "keep");
    struct Case {
        const char* what;
        std::function<void()> plant;
        std::string problem;
    };
    const Case cases[] = {
        {"another user's file",
         [&] {
             WriteWholeFile(path, "");
             ASSERT_EQ(chown(path.c_str(), 65534, 65534), 0);
             ASSERT_EQ(chmod(path.c_str(), 0644), 0);
         },
         path + " belongs to nobody (uid 65534), not to this user"},
        {"symbolic link", [&] { ASSERT_EQ(symlink(elsewhere.c_str(), path.c_str()), 0); },
         path + " is a symbolic link, not a lock file"},
        {"FIFO", [&] { ASSERT_EQ(mkfifo(path.c_str(), 0600), 0); }, path + " is not a regular file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove(path);
        c.plant();
        FileLock lock;
        LockResult result = lock.Acquire(path, std::chrono::milliseconds(0));
        EXPECT_EQ(result.status, LockStatus::NotOurs);
        EXPECT_EQ(result.problem, c.problem);
        EXPECT_FALSE(lock.Held());
    }
    EXPECT_EQ(ReadWholeFile(elsewhere), "keep");

    // the other user cannot take our lock file at all: it is ours and 0600, and a read-only open does not do
    std::filesystem::remove(path);
    FileLock ours;
    ASSERT_TRUE(ours.Acquire(path, std::chrono::milliseconds(0)).Held());
    ours.Release();
    EXPECT_EQ(AsNobody([path] {
                  FileLock theirs;
                  LockResult result = theirs.Acquire(path, std::chrono::milliseconds(0));
                  return result.status == LockStatus::NotOurs &&
                                 result.problem == path + " belongs to root (uid 0), not to this user"
                             ? 0
                             : 1;
              }),
              0);
}

// A lock held by a process of another user says whose it is. Here root holds the lock file of a folder
// that belongs to 65534 (what a `sudo` run leaves), and the folder's owner asks for it.
TEST(FileLock, LockHeldByAnotherUserNamesTheHolder) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "switching users needs root";
    }
    TempFolder folder;
    ASSERT_EQ(chown(folder.Path().c_str(), 65534, 65534), 0);
    std::string path = folder.Path() + ".Vantrel.instance.lock";
    FileLock rootLock;
    ASSERT_TRUE(rootLock.Acquire(path, std::chrono::milliseconds(0)).Held());
    struct stat info {};
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, 65534u) << "made by root, given to the folder's owner";
    std::string expected = path + " is held by process " + std::to_string(getpid()) + " of root (uid 0)";
    EXPECT_EQ(AsNobody([path, expected] {
                  FileLock theirs;
                  LockResult result = theirs.Acquire(path, std::chrono::milliseconds(0));
                  if (result.status != LockStatus::Busy || !result.HeldByOtherUser()) {
                      return 1;
                  }
                  return result.problem == expected ? 0 : 2;
              }),
              0);
}

TEST(FileRead, WhatIsNotARegularFileIsRefusedWithoutHanging) {
    TempFolder folder;
    std::string fifo = folder.Path() + "fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::string link = folder.Path() + "zero";
    ASSERT_EQ(symlink("/dev/zero", link.c_str()), 0);
    std::string dir = folder.Path() + "dir";
    std::filesystem::create_directory(dir);
    std::string file = folder.Path() + "file";
    WriteWholeFile(file, "hello");
    std::string fileLink = folder.Path() + "file-link";
    ASSERT_EQ(symlink(file.c_str(), fileLink.c_str()), 0);

    for (bool follow : {false, true}) {
        EXPECT_EQ(ReadRegularFile(fifo, 100, follow).status, FileReadStatus::NotRegularFile);
        EXPECT_EQ(ReadRegularFile(link, 100, follow).status, FileReadStatus::NotRegularFile);
        EXPECT_EQ(ReadRegularFile(dir, 100, follow).status, FileReadStatus::NotRegularFile);
        EXPECT_EQ(ReadRegularFile(folder.Path() + "absent", 100, follow).status, FileReadStatus::Missing);
        EXPECT_EQ(ReadRegularFile(file, 4, follow).status, FileReadStatus::TooLarge);
        FileContents read = ReadRegularFile(file, 5, follow);
        EXPECT_EQ(read.status, FileReadStatus::Read);
        EXPECT_EQ(read.bytes, "hello");
    }
    EXPECT_EQ(ReadRegularFile(fileLink, 100, false).status, FileReadStatus::NotRegularFile);
    EXPECT_EQ(ReadRegularFile(fileLink, 100, true).bytes, "hello");
}

}  // namespace
