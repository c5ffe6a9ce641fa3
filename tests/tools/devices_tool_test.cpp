// vantrel-devices run as a program: list, import, remove and move on a Data.xml in a temporary folder.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>

#include "store/xml_device_store.h"
#include "temp_folder.h"

namespace vantrel {
namespace {

constexpr const char* kHeader = "address,port,name,organization,user,password,channels,cameraTypes\n";

class DevicesTool : public ::testing::Test {
protected:
    struct Result {
        int status = -1;
        std::string out;
        std::string err;
    };

    // Runs the tool on the test's data folder; arguments are passed through the shell as written.
    Result Run(const std::string& arguments) {
        std::string command = std::string("'") + VANTREL_BIN_DIR + "/vantrel-devices' --data-dir '" + Data() + "' " +
                              arguments + " >'" + folder.Path() + "out' 2>'" + folder.Path() + "err'";
        int raw = std::system(command.c_str());
        return Result{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadWholeFile(folder.Path() + "out"),
                      ReadWholeFile(folder.Path() + "err")};
    }
    std::string Data() const { return folder.Path() + "data"; }
    std::string Database() const { return Data() + "/Data.xml"; }
    std::string Plan(const std::string& rows, mode_t mode = 0600) {
        std::string path = folder.Path() + "plan" + std::to_string(++plans) + ".csv";
        WriteWholeFile(path, kHeader + rows);
        chmod(path.c_str(), mode);
        return path;
    }

    void SetUp() override { mkdir(Data().c_str(), 0700); }

    TempFolder folder;
    int plans = 0;
};

TEST_F(DevicesTool, ImportAddsChangesAndLeavesEqualRowsAlone) {
    std::string first = Plan(
        "10.0.0.1,8000,Gate,North/Depot,admin,pw1,2,ND\n"
        "10.0.0.2,80,\"Yard, east\",,admin,pw2,1,\n");
    ASSERT_EQ(Run("import " + first).status, 0);
    std::string written = ReadWholeFile(Database());
    Result again = Run("import " + first);
    EXPECT_EQ(again.status, 0);
    EXPECT_EQ(again.out, "0 added, 0 changed, 2 unchanged\n");
    EXPECT_EQ(ReadWholeFile(Database()), written);  // byte for byte

    std::string second = Plan(
        "10.0.0.1,8000,Gate,North/Depot,root,,2,NN\n"  // user and camera types differ; password kept
        "10.0.0.2,80,\"Yard, east\",,admin,pw2,1,\n"
        "10.0.0.3,80,Door,South,admin,pw3,1,D\n");
    Result dry = Run("import --dry-run " + second);
    EXPECT_EQ(dry.status, 0);
    EXPECT_EQ(dry.out,
              "would change Gate (10.0.0.1:8000): user, cameraTypes\n"
              "would add Door (10.0.0.3:80)\n"
              "1 to add, 1 to change, 1 unchanged\n");
    EXPECT_EQ(ReadWholeFile(Database()), written);

    ASSERT_EQ(Run("import " + second).status, 0);
    Result list = Run("list --csv");
    EXPECT_EQ(list.out,
              "id,name,address,port,channels,organization,user,passwordReadable\r\n"
              "3,Gate,10.0.0.1,8000,2,North/Depot,root,true\r\n"
              "8,\"Yard, east\",10.0.0.2,80,1,,admin,true\r\n"
              "12,Door,10.0.0.3,80,1,South,admin,true\r\n");
    EXPECT_EQ(list.out.find("pw"), std::string::npos);
    XmlDeviceStore store(Database());
    DeviceRecord records[3] = {};
    ASSERT_EQ(store.LoadDeviceRecords(records, sizeof records), 1);
    EXPECT_STREQ(records[0].password, "pw1");
    std::int32_t types[2] = {};
    store.GetCameraTypes(records[0].id, types, 2);
    EXPECT_EQ(types[1], 0);
}

TEST_F(DevicesTool, PlanWithABadRowWritesNothing) {
    struct Case {
        std::string rows;
        std::string message;
    } cases[] = {
        {"10.0.0.1,8000,Gate,,admin,pw,2,NX\n", ":3: cameraTypes holds 'X': N or D only"},
        {"10.0.0.1,8000,Gate,,admin,pw,2,N\n", ":3: cameraTypes needs one letter per channel (2)"},
        {"10.0.0.1,8000,Gate,,admin,pw,17,\n", ":3: channels must be a number from 1 to 16"},
        {"10.0.0.1,0,Gate,,admin,pw,1,\n", ":3: the port must be a number from 1 to 65535"},
        {"10.0.0.1,80,Ga<te,,admin,pw,1,\n", ":3: the name must not contain a less-than sign (<)!"},
        {"10.0.0.1,80,Gate,North//Depot,admin,pw,1,\n", ":3: the organization path has an empty name"},
        {"10.0.0.1,80,Gate,,admin,pw,1\n", ":3: 8 fields expected, 7 found"},
        {"10.0.0.1,80,Gate,,admin,pw,1,\n10.0.0.2,80,Gate,,admin,pw,1,\n", ":4: the name Gate is also on line 3"},
        {"10.0.0.1,80,A,,admin,pw,1,\n10.0.0.1,80,B,,admin,pw,1,\n", ":4: 10.0.0.1:80 is also on line 3"},
        {"10.0.0.1,80,\"Gate,,admin,pw,1,\n", ":3: a quoted field is not closed"},
    };
    for (const Case& c : cases) {
        Result result = Run("import " + Plan("10.0.0.9,80,Fine,,admin,pw,1,\n" + c.rows));
        EXPECT_EQ(result.status, 1) << c.rows;
        EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
        EXPECT_FALSE(std::ifstream(Database()).good()) << c.rows;
    }
    WriteWholeFile(folder.Path() + "headless.csv", "10.0.0.1,80,Gate,,admin,pw,1,\n");
    EXPECT_EQ(Run("import " + folder.Path() + "headless.csv").status, 1);
}

TEST_F(DevicesTool, NameOfAnotherRegisteredDeviceIsABadRow) {
    ASSERT_EQ(Run("import " + Plan("10.0.0.1,80,Gate,,admin,pw,1,\n")).status, 0);
    Result result = Run("import " + Plan("10.0.0.2,80,Gate,,admin,pw,1,\n"));
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find(":2: the name Gate belongs to the device at 10.0.0.1:80"), std::string::npos);
}

TEST_F(DevicesTool, PlanReadableByOthersIsWarnedAbout) {
    Result result = Run("import --dry-run " + Plan("10.0.0.1,80,Gate,,admin,pw,1,\n", 0644));
    EXPECT_EQ(result.status, 0);
    EXPECT_NE(result.err.find("holds passwords and is readable by other users"), std::string::npos);
}

TEST_F(DevicesTool, RemoveAndMoveByName) {
    ASSERT_EQ(Run("import " + Plan("10.0.0.1,80,Gate,North,admin,pw,1,\n10.0.0.2,80,Yard,,admin,pw,1,\n")).status, 0);
    std::string before = ReadWholeFile(Database());
    EXPECT_EQ(Run("remove Gate Nobody").status, 1);
    EXPECT_EQ(Run("move Gate --to South").status, 1);  // no such organization
    EXPECT_EQ(ReadWholeFile(Database()), before);

    EXPECT_EQ(Run("move Yard --to North").status, 0);
    EXPECT_EQ(Run("move Gate --to /").status, 0);
    Result list = Run("list --json");
    EXPECT_NE(list.out.find("\"name\": \"Yard\", \"address\": \"10.0.0.2\", \"port\": 80, \"channels\": 1, "
                            "\"organization\": \"North\""),
              std::string::npos)
        << list.out;
    EXPECT_EQ(Run("remove Gate").status, 0);
    EXPECT_EQ(Run("list --csv").out.find("Gate"), std::string::npos);
}

TEST_F(DevicesTool, DeviceOfAMissingOrganizationAndUnreadablePassword) {
    WriteWholeFile(Database(),
                   "<DATAROOT><ORGINFO/><DEVINFO><DEV id=\"1\" name=\"Gate\" host=\"10.0.0.1\" port=\"80\" "
                   "cameras=\"0\" username=\"u\" OrgId=\"7\" password=\"v1:garbage\"/></DEVINFO>"
                   "<GLOBAL index=\"2\"/></DATAROOT>");
    Result list = Run("list --csv");
    EXPECT_EQ(list.status, 0);
    EXPECT_NE(list.out.find("1,Gate,10.0.0.1,80,0,[7],u,false\r\n"), std::string::npos) << list.out;
}

TEST_F(DevicesTool, ExitStatusSaysWhatFailed) {
    EXPECT_EQ(Run("").status, 1);
    EXPECT_EQ(Run("frob").status, 1);
    EXPECT_EQ(Run("list extra").status, 1);
    EXPECT_EQ(Run("move Gate").status, 1);
    EXPECT_EQ(Run("import " + folder.Path() + "missing.csv").status, 1);
    mkdir(Database().c_str(), 0700);  // a folder where the database should be
    Result unreadable = Run("list");
    EXPECT_EQ(unreadable.status, 2);
    EXPECT_NE(unreadable.err.find("Data.xml"), std::string::npos);
    std::string command = std::string("'") + VANTREL_BIN_DIR + "/vantrel-devices' --data-dir '" + folder.Path() +
                          "nowhere' list 2>/dev/null";
    int raw = std::system(command.c_str());
    EXPECT_EQ(WEXITSTATUS(raw), 2);
}

}  // namespace
}  // namespace vantrel
