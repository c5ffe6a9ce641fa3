#pragma once

// The folders the program works with: its own (the text table) and the data folder that holds the
// database, its key and its lock.

#include <string>

namespace vantrel {

inline constexpr const char* kDatabaseFileName = "Data.xml";

struct ProgramPaths {
    std::string programFolder;  // ends in '/', or empty: files beside the working folder
    std::string dataFolder;     // ends in '/', or empty likewise

    std::string DatabasePath() const { return dataFolder + kDatabaseFileName; }
};

// programFolder as given, with the data folder XML/ inside it; a '/' is appended to a folder without one.
ProgramPaths PathsBeside(const std::string& programFolder);

// The running program's folder (GetModulePaths) and its XML/ folder.
ProgramPaths PathsBesideProgram();

// folder with a trailing '/' (an empty folder stays empty).
std::string WithTrailingSlash(std::string folder);

}  // namespace vantrel
