// vantrel-scan --database on what is not a database it may read: refused before any probe, with the store's
// words and exit status 1, and the database's folder left exactly as it was.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <set>
#include <string>

#include "devsim_process.h"
#include "netns_lab.h"
#include "temp_folder.h"

namespace vantrel {
namespace {

TEST(ScanDatabase, WhatTheStoreRefusesEndsTheScanAndChangesNothing) {
    NetnsLab lab;
    const std::string host = lab.AddNamespace("host");
    ASSERT_FALSE(host.empty()) << lab.Error();
    TempFolder folder;
    const std::string path = folder.Path() + "Data.xml";
    WriteWholeFile(folder.Path() + ".Data.xml.tmp-abcdef", "left by a killed save");
    struct Case {
        const char* what;
        std::function<void()> make;
        std::string message;
        std::string given;
    };
    const Case cases[] = {
        {"FIFO", [&] { ASSERT_EQ(mkfifo(path.c_str(), 0600), 0); }, path + " is not a regular file", ""},
        {"/dev/zero", [] {}, "/dev/zero is not a regular file", "/dev/zero"},
        {"folder", [&] { ASSERT_EQ(mkdir(path.c_str(), 0700), 0); }, path + " is not a regular file", ""},
        {"damaged",
         [&] { WriteWholeFile(path, "<DATAROOT><DEVINFO><DEV id=\"1\" name=\"A\"/></DEVINFO><ORGINFO><OR"); },
         path + " is damaged (", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove_all(path);
        c.make();
        const std::set<std::string> before = FolderEntries(folder.Path());
        std::string output;
        std::string errors;
        EXPECT_EQ(RunScan(host, {"--time", "0.2", "--database", c.given.empty() ? path : c.given}, output, errors), 1);
        EXPECT_EQ(errors.rfind("vantrel-scan: " + c.message, 0), 0u) << errors;
        EXPECT_EQ(output, "");
        EXPECT_EQ(FolderEntries(folder.Path()), before);
    }
}

}  // namespace
}  // namespace vantrel
