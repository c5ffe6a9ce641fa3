// Where the database lives: the order of --data-dir, VANTREL_DATA_DIR, XML/ beside the program and the
// user's data folder, and the creation of the latter.
#include "app/data_folder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "temp_folder.h"

using namespace vantrel;

namespace {

mode_t ModeOf(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0;
}

// A program folder with XML/ beside the program, writable unless told, and a home folder.
struct Layout {
    TempFolder temp;
    std::string program = temp.Path() + "opt/vantrel/";
    std::string home = temp.Path() + "home/";
    Layout() {
        std::filesystem::create_directories(program + "XML");
        std::filesystem::create_directories(home);
    }
    DataFolderRequest Request(bool besideWritable = true) const {
        DataFolderRequest request;
        request.programFolder = program;
        request.home = home.substr(0, home.size() - 1);
        request.workingFolder = temp.Path() + "work";
        request.writable = [besideWritable](const std::string&) { return besideWritable; };
        return request;
    }
};

}  // namespace

TEST(DataFolder, OptionBeatsEnvironmentBeatsBesideProgram) {
    Layout layout;
    std::filesystem::create_directories(layout.temp.Path() + "work/mine");
    std::filesystem::create_directories(layout.temp.Path() + "env");
    DataFolderRequest request = layout.Request();

    DataFolderChoice choice = ChooseDataFolder(request);
    EXPECT_EQ(choice.source, DataFolderSource::kBesideProgram);
    EXPECT_EQ(choice.folder, layout.program + "XML/");

    request.environment = layout.temp.Path() + "env";
    choice = ChooseDataFolder(request);
    EXPECT_EQ(choice.source, DataFolderSource::kEnvironment);
    EXPECT_EQ(choice.folder, layout.temp.Path() + "env/");
    EXPECT_EQ(choice.problem, "");

    // relative to the working folder, steps and doubled slashes taken out
    request.option = "./mine//";
    choice = ChooseDataFolder(request);
    EXPECT_EQ(choice.source, DataFolderSource::kOption);
    EXPECT_EQ(choice.folder, layout.temp.Path() + "work/mine/");
    request.option = "../env";
    EXPECT_EQ(ChooseDataFolder(request).folder, layout.temp.Path() + "env/");
}

TEST(DataFolder, GivenFolderMustExist) {
    Layout layout;
    DataFolderRequest request = layout.Request();
    request.option = layout.temp.Path() + "typo";
    DataFolderChoice choice = ChooseDataFolder(request);
    EXPECT_EQ(choice.problem, "the data folder " + layout.temp.Path() + "typo/ given by --data-dir does not exist");
    EXPECT_FALSE(std::filesystem::exists(layout.temp.Path() + "typo"));

    request.option.clear();
    WriteWholeFile(layout.temp.Path() + "file", "x");
    request.environment = layout.temp.Path() + "file";
    choice = ChooseDataFolder(request);
    EXPECT_EQ(choice.source, DataFolderSource::kEnvironment);
    EXPECT_NE(choice.problem.find("given by VANTREL_DATA_DIR does not exist"), std::string::npos) << choice.problem;
}

TEST(DataFolder, InstalledProgramUsesTheUserDataFolder) {
    Layout layout;
    const std::string userData = layout.home + ".local/share/vantrel/";

    // XML/ beside the program but not writable (an unpacked archive on a read-only medium)
    EXPECT_EQ(ChooseDataFolder(layout.Request(false)).folder, userData);
    EXPECT_EQ(ChooseDataFolder(layout.Request(false)).source, DataFolderSource::kUserData);

    // no XML/ beside the program at all
    std::filesystem::remove(layout.program + "XML");
    EXPECT_EQ(ChooseDataFolder(layout.Request(true)).folder, userData);

    // under /usr even where root could write beside it, and nothing is created by choosing
    DataFolderRequest request = layout.Request(true);
    request.programFolder = "/usr/bin/";
    DataFolderChoice choice = ChooseDataFolder(request);
    EXPECT_EQ(choice.source, DataFolderSource::kUserData);
    EXPECT_EQ(choice.folder, userData);
    EXPECT_FALSE(std::filesystem::exists(userData));
}

TEST(DataFolder, UserDataFolderFollowsXdgDataHome) {
    Layout layout;
    DataFolderRequest request = layout.Request(false);
    request.xdgDataHome = layout.temp.Path() + "xdg/";
    EXPECT_EQ(ChooseDataFolder(request).folder, layout.temp.Path() + "xdg/vantrel/");

    // a relative XDG_DATA_HOME is invalid and ignored
    request.xdgDataHome = "relative/share";
    EXPECT_EQ(ChooseDataFolder(request).folder, layout.home + ".local/share/vantrel/");

    request.home.clear();
    DataFolderChoice choice = ChooseDataFolder(request);
    EXPECT_EQ(choice.source, DataFolderSource::kUserData);
    EXPECT_NE(choice.problem.find("no user data folder"), std::string::npos) << choice.problem;
}

TEST(DataFolder, CreateMakesMissingFoldersPrivate) {
    TempFolder temp;
    std::filesystem::create_directories(temp.Path() + "home");
    ::chmod((temp.Path() + "home").c_str(), 0755);
    const std::string folder = temp.Path() + "home/.local/share/vantrel/";
    DataFolderCreation created = CreateDataFolder(folder);
    ASSERT_TRUE(created.Ready()) << created.problem;
    EXPECT_EQ(created.error, 0);
    EXPECT_EQ(ModeOf(folder), 0700u);
    EXPECT_EQ(ModeOf(temp.Path() + "home/.local"), 0700u);
    EXPECT_EQ(ModeOf(temp.Path() + "home"), 0755u);  // existing folders keep their mode

    // again: already there, nothing to do
    created = CreateDataFolder(folder);
    EXPECT_TRUE(created.Ready()) << created.problem;

    WriteWholeFile(temp.Path() + "blocked", "");
    created = CreateDataFolder(temp.Path() + "blocked/vantrel/");
    EXPECT_FALSE(created.Ready());
    EXPECT_EQ(created.error, ENOTDIR);
    EXPECT_NE(created.problem.find(temp.Path() + "blocked"), std::string::npos) << created.problem;
}
