// The store and its key file when the key was left by a `sudo` run: made as root in the user's folder, the
// key (and a new database) is the user's; one that root made private to itself is named with the reason in every
// message.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "as_nobody.h"
#include "store_fixture.h"

namespace vantrel {
namespace {

using StoreKey = StoreTest;

TEST_F(StoreKey, KeyLeftByRootIsTheUsersOrNamedWithTheReason) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root";
    }
    ASSERT_EQ(chmod(folder_.Path().c_str(), 0755), 0);
    ASSERT_EQ(chown((folder_.Path() + "XML").c_str(), 65534, 65534), 0);
    // root's session in the user's folder
    {
        XmlDeviceStore& store = Open();
        Add(MakeDevice("Gate", 1));
        ASSERT_EQ(store.Save(), 1);
        store_.reset();
    }
    const std::string path = path_;
    const std::string keyPath = folder_.Path() + "XML/" + kKeyFileName;
    struct stat key {};
    ASSERT_EQ(stat(keyPath.c_str(), &key), 0);
    EXPECT_EQ(key.st_uid, 65534u);
    struct stat database {};
    ASSERT_EQ(stat(path_.c_str(), &database), 0);
    EXPECT_EQ(database.st_uid, 65534u) << "a new database goes to the folder's owner too";
    auto userSession = [path](const std::string& expectedProblem) {
        return AsNobody([path, expectedProblem] {
            XmlDeviceStore store(path);
            DeviceRecord loaded{};
            if (store.LoadDevices(&loaded, sizeof loaded) != 1) {
                return 1;
            }
            if (expectedProblem.empty()) {
                return std::string(loaded.password) == "secret" ? 0 : 2;
            }
            bool told = false;
            for (const std::string& notice : StoreNotices(*store.Condition())) {
                told = told || notice == "The passwords in " + path +
                                             " can be neither read nor stored: " + expectedProblem + ".";
            }
            DeviceRecord door = MakeDevice("Door", 1, "10.0.0.2");
            if (!told || store.AddDevices(&door, sizeof door) != 0) {
                return 3;
            }
            return store.Condition()->keyProblem == expectedProblem ? 0 : 4;
        });
    };
    EXPECT_EQ(userSession(""), 0);

    // what an older version left: the key root's and private to it
    ASSERT_EQ(chown(keyPath.c_str(), 0, 0), 0);
    EXPECT_EQ(userSession("the key file " + keyPath + " cannot be read: Permission denied"), 0);
}

}  // namespace
}  // namespace vantrel
