#include "paths/program_paths.h"

#include "module_paths.h"

namespace vantrel {

std::string WithTrailingSlash(std::string folder) {
    if (!folder.empty() && folder.back() != '/') {
        folder += '/';
    }
    return folder;
}

ProgramPaths PathsBeside(const std::string& programFolder) {
    ProgramPaths paths;
    paths.programFolder = WithTrailingSlash(programFolder);
    paths.dataFolder = paths.programFolder + "XML/";
    return paths;
}

ProgramPaths PathsBesideProgram() {
    return PathsBeside(GetModulePaths().folder);
}

}  // namespace vantrel
