// The database file under real-world conditions, on real files: unreadable, damaged, deep, replaced by a
// link, FIFO or folder, shared with another writer, owned by someone else, interrupted mid-save, and the
// password key gone or the passwords changed.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
#include <thread>
#include <vector>

#include "as_nobody.h"
#include "database_file.h"
#include "files/file_lock.h"
#include "store/instance_lock.h"
#include "store_fixture.h"

using namespace vantrel;

namespace {

using StoreIntegrity = StoreTest;

bool IsTempFile(const std::string& name) {
    return name.find(".tmp-") != std::string::npos;
}

std::string Notices(const XmlDeviceStore& store) {
    std::string all;
    for (const std::string& notice : StoreNotices(*store.Condition())) {
        all += notice + "\n";
    }
    return all;
}

TEST_F(StoreIntegrity, UnreadableFileIsNeverSavedOver) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "root reads every file; the test drops to another user, which needs root";
    }
    const std::string original = "<DATAROOT><DEVINFO><DEV id=\"1\" name=\"Kept\"/></DEVINFO></DATAROOT>";
    WriteWholeFile(path_, original);
    // the folders are the other user's, the file stays root's and private
    ASSERT_EQ(chmod(folder_.Path().c_str(), 0755), 0);
    ASSERT_EQ(chown((folder_.Path() + "XML").c_str(), 65534, 65534), 0);
    ASSERT_EQ(chmod(path_.c_str(), 0600), 0);
    std::string path = path_;
    int status = AsNobody([path] {
        XmlDeviceStore store(path);
        const StoreCondition& condition = *store.Condition();
        if (condition.file.status != FileReadStatus::Unreadable || condition.file.error != EACCES) {
            return 1;
        }
        if (store.SaveRefusal() != path + " cannot be read: Permission denied") {
            return 2;
        }
        if (store.AddOrganization(0, "New") == 0 || store.Save() != 0) {
            return 3;
        }
        if (condition.saveProblem != store.SaveRefusal()) {
            return 4;
        }
        return StoreNotices(condition).size() == 1 ? 0 : 5;
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(ReadWholeFile(path_), original);
}

TEST_F(StoreIntegrity, LinkFifoFolderAndDeviceAreRefusedWithoutHanging) {
    std::string elsewhere = folder_.Path() + "elsewhere.xml";
    WriteWholeFile(elsewhere, "<DATAROOT/>");
    struct Case {
        const char* what;
        std::function<void(const std::string&)> make;
    };
    const Case cases[] = {
        {"symbolic link", [&](const std::string& p) { ASSERT_EQ(symlink(elsewhere.c_str(), p.c_str()), 0); }},
        {"link to /dev/zero", [](const std::string& p) { ASSERT_EQ(symlink("/dev/zero", p.c_str()), 0); }},
        {"FIFO", [](const std::string& p) { ASSERT_EQ(mkfifo(p.c_str(), 0600), 0); }},
        {"folder", [](const std::string& p) { ASSERT_EQ(mkdir(p.c_str(), 0700), 0); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove_all(path_);
        c.make(path_);
        auto start = std::chrono::steady_clock::now();
        XmlDeviceStore& store = Open();
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
        EXPECT_EQ(store.Condition()->file.status, FileReadStatus::NotRegularFile);
        EXPECT_EQ(store.SaveRefusal(), path_ + " is not a regular file");
        EXPECT_NE(store.AddOrganization(0, "North"), 0u);
        EXPECT_EQ(store.Save(), 0);
        struct stat info {};
        ASSERT_EQ(lstat(path_.c_str(), &info), 0);
        EXPECT_FALSE(S_ISREG(info.st_mode)) << "still what it was";
    }
    EXPECT_EQ(ReadWholeFile(elsewhere), "<DATAROOT/>");
}

TEST_F(StoreIntegrity, FileReplacedByALinkAfterTheLoadIsNotSavedOver) {
    WriteWholeFile(path_, "<DATAROOT/>");
    XmlDeviceStore& store = Open();
    std::string elsewhere = folder_.Path() + "elsewhere.xml";
    WriteWholeFile(elsewhere, "theirs");
    std::filesystem::remove(path_);
    ASSERT_EQ(symlink(elsewhere.c_str(), path_.c_str()), 0);
    store.AddOrganization(0, "North");
    EXPECT_EQ(store.Save(), 0);
    EXPECT_EQ(store.Condition()->saveProblem, path_ + " is not a regular file");
    EXPECT_EQ(ReadWholeFile(elsewhere), "theirs");
}

TEST_F(StoreIntegrity, FileAboveTheSizeLimitIsNotRead) {
    // sparse: nothing is written, and the size alone refuses it
    WriteWholeFile(path_, "<DATAROOT/>");
    ASSERT_EQ(truncate(path_.c_str(), static_cast<off_t>(kMaxXmlFileSize) + 1), 0);
    XmlDeviceStore& store = Open();
    EXPECT_EQ(store.Condition()->file.status, FileReadStatus::TooLarge);
    EXPECT_EQ(store.CountDevices(), 0u);
    EXPECT_EQ(store.Save(), 0);
    struct stat info {};
    ASSERT_EQ(stat(path_.c_str(), &info), 0);
    EXPECT_EQ(static_cast<std::uint64_t>(info.st_size), kMaxXmlFileSize + 1);
}

TEST_F(StoreIntegrity, DamagedFileIsCopiedOnceBeforeTheFirstSave) {
    std::string damaged(
        "<DATAROOT><DEVINFO><DEV id=\"1\" name=\"A\"/>\0<DEV id=\"2\" name=\"B\"/></DEVINFO></DATAROOT>", 84);
    WriteWholeFile(path_, damaged);
    XmlDeviceStore& store = Open();
    const StoreCondition& condition = *store.Condition();
    EXPECT_TRUE(condition.file.damaged);
    EXPECT_EQ(condition.file.problemOffset, 41u);
    EXPECT_EQ(condition.backupPath, path_ + ".bak");
    EXPECT_TRUE(store.SaveRefusal().empty()) << "a damaged file may be saved, after its copy";
    EXPECT_NE(Notices(store).find(path_ + " is damaged (NUL byte at byte 41)"), std::string::npos) << Notices(store);
    EXPECT_NE(Notices(store).find("Before it is saved, the original is kept as " + path_ + ".bak"), std::string::npos);
    Add(MakeDevice("C"));
    ASSERT_EQ(store.Save(), 1);
    EXPECT_EQ(ReadWholeFile(path_ + ".bak"), damaged);
    struct stat info {};
    ASSERT_EQ(stat((path_ + ".bak").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_TRUE(condition.backupMade);
    EXPECT_NE(Notices(store).find("The original was kept as " + path_ + ".bak"), std::string::npos);

    // the copy is of the damaged file only: later saves leave it alone
    WriteWholeFile(path_ + ".bak", "marker");
    Add(MakeDevice("D"));
    ASSERT_EQ(store.Save(), 1);
    EXPECT_EQ(ReadWholeFile(path_ + ".bak"), "marker");
    EXPECT_FALSE(std::filesystem::exists(path_ + ".bak.1"));
    XmlDeviceStore& reopened = Open();
    EXPECT_TRUE(reopened.Condition()->file.Clean());
    EXPECT_NE(reopened.FindDeviceByName("D"), 0u);
    std::set<std::string> entries = FolderEntries();
    EXPECT_FALSE(std::any_of(entries.begin(), entries.end(), IsTempFile));
}

// Kinds of damage only the parser sees: a missing quote, a cut-off tail, UTF-16 with a byte-order mark, an
// element never closed.
class StoreDamagedByParse : public StoreTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(StoreDamagedByParse, DamagedByParseIsCopiedBeforeTheFirstSave) {
    const std::string text = GetParam();
    WriteWholeFile(path_, text);
    XmlDeviceStore& store = Open();
    ASSERT_TRUE(store.Condition()->file.damaged);
    EXPECT_NE(Notices(store).find(path_ + " is damaged"), std::string::npos);
    store.AddOrganization(0, "North");
    ASSERT_EQ(store.Save(), 1);
    EXPECT_EQ(ReadWholeFile(path_ + ".bak"), text);
}

INSTANTIATE_TEST_SUITE_P(Kinds, StoreDamagedByParse,
                         ::testing::Values("<DATAROOT><DEVINFO><DEV id=\"1 name=\"A\"/></DEVINFO></DATAROOT>",
                                           "<DATAROOT><DEVINFO><DEV id=\"1\" name=\"A\"/></DEVINFO><ORGINFO><OR",
                                           "\xFF\xFE<\0D\0A\0T\0A\0R\0O\0O\0T\0/\0>\0",
                                           "<DATAROOT><DEVINFO><DEV id=\"1\" name=\"A\">"));

// Two ordinary sessions over each kind of damage: the copy of the original is never replaced, whatever the
// first session's save left behind.
TEST_F(StoreIntegrity, CopyOfADamagedOriginalOutlivesLaterSessions) {
    const std::string kinds[] = {
        "<DATAROOT><DEVINFO><DEV id=\"1 name=\"A\"/></DEVINFO></DATAROOT>",
        std::string("<DATAROOT><DEVINFO><DEV id=\"1\" name=\"A\"/>\0<DEV id=\"2\"/></DEVINFO></DATAROOT>", 76),
        "<DATAROOT><DEVINFO><DEV id=\"1\" name=\"A\"/></DEVINFO><ORGINFO><OR",
        std::string("\xFF\xFE<\0D\0A\0T\0A\0R\0O\0O\0T\0/\0>\0", 24),
    };
    int kind = 0;
    for (const std::string& original : kinds) {
        SCOPED_TRACE(kind++);
        for (const std::string& name : FolderEntries()) {
            std::filesystem::remove(folder_.Path() + "XML/" + name);
        }
        WriteWholeFile(path_, original);
        for (int session = 0; session < 2; ++session) {
            XmlDeviceStore& store = Open();
            ASSERT_NE(store.AddOrganization(0, ("Session" + std::to_string(session)).c_str()), 0u);
            ASSERT_EQ(store.Save(), 1) << store.Condition()->saveProblem;
        }
        EXPECT_EQ(ReadWholeFile(path_ + ".bak"), original);
        EXPECT_FALSE(std::filesystem::exists(path_ + ".bak.2")) << "one copy per damaged file loaded";
        EXPECT_NE(ReadWholeFile(path_).find("Session1"), std::string::npos);
    }
}

TEST_F(StoreIntegrity, DamagedFileIsNotSavedOverWhenEveryCopySlotIsTaken) {
    const std::string damaged = "<DATAROOT><DEVINFO><DEV id=\"1\" name=\"A\">";
    WriteWholeFile(path_, damaged);
    WriteWholeFile(path_ + ".bak", "first");
    for (int slot = 1; slot < kMaxDamagedCopies; ++slot) {
        WriteWholeFile(path_ + ".bak." + std::to_string(slot), "older " + std::to_string(slot));
    }
    XmlDeviceStore& store = Open();
    store.AddOrganization(0, "North");
    EXPECT_EQ(store.Save(), 0);
    EXPECT_NE(store.Condition()->saveProblem.find(path_ + " is damaged and no copy of it could be kept"),
              std::string::npos)
        << store.Condition()->saveProblem;
    EXPECT_EQ(ReadWholeFile(path_), damaged);
    EXPECT_EQ(ReadWholeFile(path_ + ".bak"), "first");

    // a copy that already holds these bytes will do
    WriteWholeFile(path_ + ".bak.4", damaged);
    ASSERT_EQ(store.Save(), 1);
    EXPECT_EQ(store.Condition()->backupPath, path_ + ".bak.4");
}

// Memory that runs out while the file is loaded: the file is too large for this machine, not damaged; it is
// never copied or written over, and no exception leaves the store.
TEST_F(StoreIntegrity, FileTooLargeForTheMemoryIsRefusedNotCalledDamaged) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers reserve more address space than the limit this test sets";
#endif
    std::string text = "<DATAROOT><DEVINFO>";
    for (int i = 0; i < 600000; ++i) {
        text += "<DEV id=\"" + std::to_string(i + 1) + "\" name=\"n\"/>";
    }
    text += "</DEVINFO></DATAROOT>";
    WriteWholeFile(path_, text);
    const std::string path = path_;
    pid_t child = fork();
    if (child == 0) {
        // room for the text and a little more, far from what the tree of 600,000 elements takes
        long pages = 0;
        FILE* statm = std::fopen("/proc/self/statm", "r");
        if (statm == nullptr || std::fscanf(statm, "%ld", &pages) != 1) {
            _exit(90);
        }
        std::fclose(statm);
        rlim_t limit = static_cast<rlim_t>(pages) * sysconf(_SC_PAGESIZE) + text.size() * 2 + (16 << 20);
        struct rlimit bound = {limit, limit};
        if (setrlimit(RLIMIT_AS, &bound) != 0) {
            _exit(91);
        }
        try {
            XmlDeviceStore store(path);
            const StoreCondition& condition = *store.Condition();
            if (!condition.outOfMemory || condition.file.damaged) {
                _exit(1);
            }
            if (store.SaveRefusal().find(path + " is too large for the memory of this machine") != 0) {
                _exit(2);
            }
            store.AddOrganization(0, "North");
            _exit(store.Save() == 0 ? 0 : 3);
        } catch (...) {
            _exit(4);
        }
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status)) << "the child was ended by a signal";
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(ReadWholeFile(path_), text);
    EXPECT_FALSE(std::filesystem::exists(path_ + ".bak"));
}

TEST_F(StoreIntegrity, FileNestedTooDeepIsNotWrittenOver) {
    std::string deep = "<DATAROOT>";
    for (int i = 0; i < 300; ++i) {
        deep += "<ORG>";
    }
    for (int i = 0; i < 300; ++i) {
        deep += "</ORG>";
    }
    deep += "</DATAROOT>";
    WriteWholeFile(path_, deep);
    XmlDeviceStore& store = Open();
    EXPECT_TRUE(store.Condition()->tooDeep);
    EXPECT_EQ(store.SaveRefusal(), path_ + " is nested 301 levels deep (at most 256)");
    Add(MakeDevice("Gate"));
    EXPECT_EQ(store.Save(), 0);
    EXPECT_EQ(ReadWholeFile(path_), deep);
    EXPECT_NE(Notices(store).find("is nested 301 levels deep"), std::string::npos);

    // at the limit it is still written
    std::string atLimit = "<DATAROOT>";
    for (int i = 0; i < 255; ++i) {
        atLimit += "<ORG>";
    }
    XmlDeviceStore& limit = OpenWith(atLimit);
    EXPECT_EQ(limit.Condition()->file.depth, 256u);
    EXPECT_FALSE(limit.Condition()->tooDeep);
    EXPECT_EQ(limit.Save(), 1);
}

TEST_F(StoreIntegrity, LockHeldByAnotherWriterKeepsSaveFromWriting) {
    WriteWholeFile(path_, "<DATAROOT/>");
    XmlStoreOptions options;
    options.lockTimeout = std::chrono::milliseconds(50);
    XmlDeviceStore& store = Open(options);
    store.AddOrganization(0, "North");
    FileLock other;
    ASSERT_TRUE(other.Acquire(LockPath(), std::chrono::milliseconds(0)).Held());
    EXPECT_EQ(store.Save(), 0);
    EXPECT_EQ(store.Condition()->saveProblem, path_ + " is in use by another program (its lock file is held)");
    EXPECT_EQ(ReadWholeFile(path_), "<DATAROOT/>");
    other.Release();
    EXPECT_EQ(store.Save(), 1);
}

TEST_F(StoreIntegrity, SecondInstanceOnTheSameFolderIsTold) {
    std::string dataFolder = folder_.Path() + "XML/";
    InstanceLock first = TryLockInstance(dataFolder);
    EXPECT_EQ(first.Status(), InstanceLockStatus::Held);
    EXPECT_EQ(TryLockInstance(dataFolder).Status(), InstanceLockStatus::HeldElsewhere);
    EXPECT_EQ(TryLockInstance(folder_.Path() + "absent/").Status(), InstanceLockStatus::Unavailable);
    {
        InstanceLock moved = std::move(first);
        EXPECT_EQ(TryLockInstance(dataFolder).Status(), InstanceLockStatus::HeldElsewhere);
    }
    EXPECT_EQ(TryLockInstance(dataFolder).Status(), InstanceLockStatus::Held) << "free again once the holder ends";
}

TEST_F(StoreIntegrity, OwnerGroupAndModeOfTheReplacedFileAreKept) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "giving the file to another user needs root";
    }
    WriteWholeFile(path_, "<DATAROOT/>");
    ASSERT_EQ(chown(path_.c_str(), 65534, 65534), 0);
    ASSERT_EQ(chmod(path_.c_str(), 0644), 0);
    XmlDeviceStore& store = Open();
    store.AddOrganization(0, "North");
    ASSERT_EQ(store.Save(), 1);
    struct stat info {};
    ASSERT_EQ(stat(path_.c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, 65534u);
    EXPECT_EQ(info.st_gid, 65534u);
    EXPECT_EQ(info.st_mode & 07777, 0644u);
    EXPECT_NE(ReadWholeFile(path_).find("North"), std::string::npos);
}

TEST_F(StoreIntegrity, OpeningRemovesTemporaryFilesOfInterruptedSaves) {
    WriteWholeFile(path_, "<DATAROOT/>");
    for (const char* name : {".Data.xml.tmp-Ab12Cd", ".Data.xml.tmp-000000", ".Data.key.tmp-Zz99Yy"}) {
        WriteWholeFile(folder_.Path() + "XML/" + name, std::string(1000, 'x'));
    }
    WriteWholeFile(folder_.Path() + "XML/Data.xml.mine", "keep");
    Open();
    EXPECT_EQ(FolderEntries(), (std::set<std::string>{"Data.xml", "Data.xml.mine", ".Data.xml.lock"}));

    // while another writer holds the lock, its temporary files may be in use: left alone
    WriteWholeFile(folder_.Path() + "XML/.Data.xml.tmp-Ab12Cd", "busy");
    FileLock other;
    ASSERT_TRUE(other.Acquire(LockPath(), std::chrono::milliseconds(0)).Held());
    store_.reset();
    XmlDeviceStore waiting(path_);  // gives up waiting after the timeout
    EXPECT_TRUE(FolderEntries().count(".Data.xml.tmp-Ab12Cd") > 0);
}

// A child saves again and again; the parent kills it at a random moment. Each time the file must be one
// complete save (never a part of one, never gone), and the next open leaves no temporary file behind.
TEST_F(StoreIntegrity, KilledInTheMiddleOfSavingLeavesOldOrNewAndNothingElse) {
    {
        XmlDeviceStore& store = Open();
        for (int i = 0; i < 50; ++i) {
            Add(MakeDevice(("Base" + std::to_string(i)).c_str(), 16, ("10.0.1." + std::to_string(i)).c_str()));
        }
        ASSERT_EQ(store.Save(), 1);
        store_.reset();
    }
    std::mt19937 random(12345);
    std::uint32_t devicesBefore = 50;
    int tempFilesSeen = 0;
    constexpr int kTrials = 100;
    for (int trial = 0; trial < kTrials; ++trial) {
        pid_t child = fork();
        if (child == 0) {
            XmlDeviceStore store(path_);
            for (int round = 0;; ++round) {
                std::string name = "T" + std::to_string(trial) + "_" + std::to_string(round);
                DeviceRecord record = MakeDevice(name.c_str(), 4, name.c_str());
                store.AddDevices(&record, sizeof record);
                store.Save();
            }
        }
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 20000));
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);

        for (const std::string& name : FolderEntries()) {
            tempFilesSeen += IsTempFile(name) ? 1 : 0;
        }
        XmlDeviceStore store(path_);
        ASSERT_TRUE(store.Condition()->file.Clean()) << "trial " << trial;
        ASSERT_EQ(ReadWholeFile(path_).substr(ReadWholeFile(path_).size() - 13), "</DATAROOT>\r\n");
        std::uint32_t devices = store.CountDevices();
        ASSERT_GE(devices, devicesBefore) << "trial " << trial << " lost devices";
        devicesBefore = devices;
        for (const std::string& name : FolderEntries()) {
            ASSERT_FALSE(IsTempFile(name)) << name << " left after trial " << trial;
        }
    }
    RecordProperty("temporary_files_left_by_kills", tempFilesSeen);
    std::printf("%d killed saves left %d temporary files; none after the next open\n", kTrials, tempFilesSeen);
}

TEST_F(StoreIntegrity, MissingKeyIsToldAndNoNewKeyIsMadeUnlessAgreed) {
    XmlDeviceStore& store = Open();
    std::uint32_t gate = Add(MakeDevice("Gate", 1));
    ASSERT_EQ(store.Save(), 1);
    const std::string cipher = SavedSection("DEVINFO").Child(0).Attribute("password").Value();
    std::filesystem::remove(store.KeyPath());

    XmlDeviceStore& reopened = Open();
    EXPECT_TRUE(reopened.Condition()->keyMissing);
    EXPECT_NE(Notices(reopened).find("The passwords in " + path_ + " cannot be read: the key file " +
                                     reopened.KeyPath() + " is missing"),
              std::string::npos)
        << Notices(reopened);
    DeviceRecord loaded;
    ASSERT_EQ(reopened.LoadDevices(&loaded, sizeof loaded), 1);
    EXPECT_STREQ(loaded.name, "Gate");
    EXPECT_STREQ(loaded.password, "");

    DeviceRecord door = MakeDevice("Door", 1, "10.0.0.2");
    EXPECT_EQ(reopened.AddDevices(&door, sizeof door), 0);
    EXPECT_FALSE(std::filesystem::exists(reopened.KeyPath()));
    // a change of the old device keeps its password text and needs no key
    DeviceRecord changed = loaded;
    std::strcpy(changed.host, "10.0.0.3");
    ASSERT_EQ(reopened.ModifyDevice(gate, &changed, sizeof changed, nullptr), 1);
    EXPECT_FALSE(std::filesystem::exists(reopened.KeyPath()));

    reopened.AgreeToNewKey();
    ASSERT_EQ(reopened.AddDevices(&door, sizeof door), 1);
    EXPECT_TRUE(std::filesystem::exists(reopened.KeyPath()));
    EXPECT_EQ(SavedSection("DEVINFO").Child(0).Attribute("password").Value(), cipher);
}

TEST_F(StoreIntegrity, PasswordThatFailsToDecipherIsReportedAndKept) {
    Open();
    Add(MakeDevice("Gate", 1));
    std::uint32_t door = Add(MakeDevice("Door", 1, "10.0.0.2"));
    const std::string stored = SavedSection("DEVINFO").Child(1).Attribute("password").Value();
    std::string tampered = stored;
    tampered[10] = tampered[10] == 'A' ? 'B' : 'A';
    std::string file = ReadWholeFile(path_);
    file.replace(file.find(stored), stored.size(), tampered);
    WriteWholeFile(path_, file);

    XmlDeviceStore& reopened = Open();
    EXPECT_FALSE(reopened.Condition()->keyMissing);
    DeviceRecord records[2];
    ASSERT_EQ(reopened.LoadDevices(records, sizeof records), 1);
    EXPECT_STREQ(records[0].password, "secret");
    EXPECT_STREQ(records[1].name, "Door");
    EXPECT_STREQ(records[1].password, "");
    EXPECT_EQ(reopened.Condition()->undecipherable, std::vector<std::uint32_t>{door});
    EXPECT_NE(Notices(reopened).find("1 password in " + path_ + " cannot be deciphered"), std::string::npos);

    DeviceRecord changed = records[1];
    std::strcpy(changed.username, "operator");
    ASSERT_EQ(reopened.ModifyDevice(door, &changed, sizeof changed, nullptr), 1);
    EXPECT_EQ(SavedSection("DEVINFO").Child(1).Attribute("password").Value(), tampered);
}

}  // namespace
