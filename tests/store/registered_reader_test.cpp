// Reading the registered devices for marking search results: the store's refusals, nothing changed in the
// database's folder, and only devices visited.

#include "store/registered_reader.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "temp_folder.h"

namespace vantrel {
namespace {

using Device = std::tuple<std::string, std::uint32_t, std::string>;

RegisteredRead Read(const std::string& path, std::vector<Device>& devices) {
    return ReadRegisteredDevices(path, [&devices](std::string_view host, std::uint32_t port, std::string_view name) {
        devices.emplace_back(std::string(host), port, std::string(name));
    });
}

TEST(RegisteredReader, DevicesOfTheDeviceSectionAloneAsRecordsHoldThem) {
    TempFolder folder;
    const std::string path = folder.Path() + "Data.xml";
    const std::string longHost(70, 'h');
    WriteWholeFile(path,
                   "<?xml version=\"1.0\"?>\r\n<DATAROOT><ORGINFO><DEV host=\"10.9.9.9\" port=\"1\"/></ORGINFO>"
                   "<DEVINFO><DEV id=\"1\" host=\"10.0.0.1\" port=\"8000\" name=\"Gate\"/><IMG host=\"10.0.0.9\"/>"
                   "<DEV id=\"2\" host=\"" +
                       longHost + "\" name=\"Yard\"/><DEV id=\"3\"/></DEVINFO></DATAROOT>\r\n");
    std::vector<Device> devices;
    RegisteredRead read = Read(path, devices);
    ASSERT_TRUE(read.Read()) << read.problem;
    EXPECT_EQ(read.devices, 3u);
    EXPECT_EQ(devices, (std::vector<Device>{Device{"10.0.0.1", 8000, "Gate"}, Device{std::string(63, 'h'), 0, "Yard"},
                                            Device{"", 0, ""}}));
}

// Whatever is in the database's place, the store's words say why, and the folder keeps exactly what it had:
// no lock file is made and no temporary file is removed.
TEST(RegisteredReader, RefusesWhatTheStoreRefusesAndChangesNothing) {
    TempFolder folder;
    const std::string path = folder.Path() + "Data.xml";
    WriteWholeFile(folder.Path() + ".Data.xml.tmp-abcdef", "left by a killed save");
    struct Case {
        const char* what;
        std::function<void()> make;
        std::string problem;
        std::string given;  // the path handed over, when not path
    };
    const Case cases[] = {
        {"FIFO", [&] { ASSERT_EQ(mkfifo(path.c_str(), 0600), 0); }, path + " is not a regular file", ""},
        {"folder", [&] { ASSERT_EQ(mkdir(path.c_str(), 0700), 0); }, path + " is not a regular file", ""},
        {"link to /dev/zero", [&] { ASSERT_EQ(symlink("/dev/zero", path.c_str()), 0); },
         path + " is not a regular file", ""},
        {"/dev/zero itself", [] {}, "/dev/zero is not a regular file", "/dev/zero"},
        {"missing", [] {}, "cannot read the database " + path + ": No such file or directory", ""},
        {"damaged",
         [&] { WriteWholeFile(path, "<DATAROOT><DEVINFO><DEV id=\"1\" name=\"A\"/></DEVINFO><ORGINFO><OR"); },
         path + " is damaged (", ""},
        {"nested too deep",
         [&] {
             std::string deep;
             for (int i = 0; i < 300; ++i) {
                 deep += "<a>";
             }
             for (int i = 0; i < 300; ++i) {
                 deep += "</a>";
             }
             WriteWholeFile(path, "<DATAROOT>" + deep + "</DATAROOT>");
         },
         path + " is nested 301 levels deep (at most 256)", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove_all(path);
        c.make();
        const std::set<std::string> before = FolderEntries(folder.Path());
        std::vector<Device> devices;
        RegisteredRead read = Read(c.given.empty() ? path : c.given, devices);
        EXPECT_FALSE(read.Read());
        EXPECT_EQ(read.problem.rfind(c.problem, 0), 0u) << read.problem;
        EXPECT_TRUE(devices.empty());
        EXPECT_EQ(FolderEntries(folder.Path()), before);
    }
}

}  // namespace
}  // namespace vantrel
