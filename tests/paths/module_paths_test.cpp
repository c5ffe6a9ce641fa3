#include "module_paths.h"
#include "paths/program_paths.h"

#include <gtest/gtest.h>
#include <unistd.h>

using namespace vantrel;

namespace {

TEST(ModulePaths, SplitsFolderNameAndExtension) {
    struct Case {
        const char* full;
        const char* folder;
        const char* fileName;
        const char* extension;
    };
    const Case cases[] = {
        {"/opt/tools/search/vantrel", "/opt/tools/search/", "vantrel", ""},
        {"/opt/a.b/tool.bin", "/opt/a.b/", "tool", ".bin"},
        {"/vantrel", "/", "vantrel", ""},
        {"/usr/bin/.hidden", "/usr/bin/", ".hidden", ""},
        {"/x/archive.tar.gz", "/x/", "archive.tar", ".gz"},
        {"tool.exe", "", "tool", ".exe"},
        {"", "", "", ""},
    };
    for (const Case& c : cases) {
        ModulePaths paths = SplitModulePath(c.full);
        EXPECT_EQ(paths.fullPath, c.full);
        EXPECT_EQ(paths.folder, c.folder);
        EXPECT_EQ(paths.directory, c.folder);
        EXPECT_EQ(paths.drive, "");
        EXPECT_EQ(paths.fileName, c.fileName);
        EXPECT_EQ(paths.extension, c.extension);
    }
}

TEST(ModulePaths, ComputedOnceFromTheRunningProgram) {
    char buffer[4096] = {};
    ASSERT_GT(readlink("/proc/self/exe", buffer, sizeof buffer - 1), 0);
    const ModulePaths& paths = GetModulePaths();
    EXPECT_EQ(paths.fullPath, buffer);
    EXPECT_EQ(paths.folder.back(), '/');
    EXPECT_EQ(paths.fileName, "paths_tests");
    EXPECT_EQ(&GetModulePaths(), &paths);
    EXPECT_EQ(GetDatabasePath(), paths.folder + "XML/Data.xml");
    EXPECT_EQ(PathsBesideProgram().DatabasePath(), GetDatabasePath());
}

TEST(ProgramPaths, DataFolderIsXmlInsideTheProgramFolder) {
    EXPECT_EQ(PathsBeside("/tmp/somewhere").DatabasePath(), "/tmp/somewhere/XML/Data.xml");
    EXPECT_EQ(PathsBeside("/tmp/else/").dataFolder, "/tmp/else/XML/");
    EXPECT_EQ(PathsBeside("").DatabasePath(), "XML/Data.xml") << "no folder: beside the working folder";
}

}  // namespace
