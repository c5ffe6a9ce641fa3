#pragma once

// Where the running program lives, and the database path derived from it.

#include <string>

namespace vantrel {

// Relative path of the database below the program's folder.
inline constexpr const char* kRelativeDatabasePath = "XML/Data.xml";

struct ModulePaths {
    std::string fullPath;   // the executable, as /proc/self/exe names it
    std::string folder;     // drive + directory, ends in '/'
    std::string drive;      // always empty on Linux
    std::string directory;  // with leading and trailing '/'
    std::string fileName;   // without extension
    std::string extension;  // with its leading dot, or empty
};

// Splits a path at its last '/' and its file name at the last '.'; a path without '/' (or an unreadable
// /proc/self/exe, which gives the empty path) has an empty folder, so files are found beside the working folder.
ModulePaths SplitModulePath(const std::string& fullPath);

// Computed once from /proc/self/exe; the same record on every later call. Not guarded against concurrent first calls.
const ModulePaths& GetModulePaths();

// The program's folder followed by kRelativeDatabasePath.
std::string GetDatabasePath();

}  // namespace vantrel
