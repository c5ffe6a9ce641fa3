#pragma once

// Which folder holds the database (Data.xml) and its key (Data.key), first match wins:
//  1. --data-dir DIR;
//  2. the environment variable VANTREL_DATA_DIR;
//  3. XML/ beside the program, as a built or unpacked program has it;
//  4. for an installed program (one under /usr, or one without a writable XML/ beside it) the user's data
//     folder: $XDG_DATA_HOME/vantrel, or ~/.local/share/vantrel when XDG_DATA_HOME is unset, empty or not
//     absolute. Only this one is created when missing (mode 0700, like its missing parents).
// A folder named by 1 or 2 must exist: a mistyped name would otherwise start an empty database elsewhere.

#include <functional>
#include <string>

namespace vantrel {

inline constexpr const char* kDataDirVariable = "VANTREL_DATA_DIR";

enum class DataFolderSource { kOption, kEnvironment, kBesideProgram, kUserData };

struct DataFolderRequest {
    std::string programFolder;  // ends in '/'
    std::string option;         // --data-dir as given; empty when not given
    std::string environment;    // VANTREL_DATA_DIR; empty when unset
    std::string xdgDataHome;    // XDG_DATA_HOME
    std::string home;           // the user's home folder
    std::string workingFolder;  // relative folders are taken from here
    // Whether this process may create files in an existing folder. The default asks access(2); tests replace
    // it, since root may write anywhere.
    std::function<bool(const std::string& folder)> writable;
};

struct DataFolderChoice {
    std::string folder;  // absolute (unless the program's own folder is unknown), ends in '/'
    DataFolderSource source = DataFolderSource::kBesideProgram;
    std::string problem;  // not empty when the folder cannot be used; says which and why
};

// This process's view: VANTREL_DATA_DIR, XDG_DATA_HOME, HOME (the password database when unset), the
// working folder and access(2).
DataFolderRequest RequestFromEnvironment(const std::string& programFolder, const std::string& option);

// Chooses by the rules above; looks at the disk but changes nothing.
DataFolderChoice ChooseDataFolder(const DataFolderRequest& request);

// How making the data folder went.
struct DataFolderCreation {
    int error = 0;  // errno of the mkdir that failed; ENOTDIR when a part of the path is not a folder
    // Names the folder and says why it cannot be used ("cannot create the data folder /d/x: Permission
    // denied"); empty when it is there.
    std::string problem;

    bool Ready() const { return problem.empty(); }
};

// Creates folder and its missing parents with mode 0700; existing folders keep their mode.
DataFolderCreation CreateDataFolder(const std::string& folder);

// Why the folder is the one in use, as --help and the about box say it: "given by --data-dir", ...
const char* DescribeSource(DataFolderSource source);

}  // namespace vantrel
