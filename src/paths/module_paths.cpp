#include "module_paths.h"

#include <unistd.h>

#include <climits>
#include <vector>

namespace vantrel {
namespace {

ModulePaths& CachedPaths() {
    static ModulePaths paths;
    return paths;
}

bool& Computed() {
    static bool computed = false;
    return computed;
}

std::string ReadExecutablePath() {
    std::vector<char> buffer(PATH_MAX);
    for (;;) {
        ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (length < 0) {
            return std::string();
        }
        // readlink does not say whether it truncated; grow until there is room to spare
        if (static_cast<std::size_t>(length) < buffer.size()) {
            return std::string(buffer.data(), static_cast<std::size_t>(length));
        }
        buffer.resize(buffer.size() * 2);
    }
}

}  // namespace

ModulePaths SplitModulePath(const std::string& fullPath) {
    ModulePaths paths;
    paths.fullPath = fullPath;
    std::string::size_type slash = fullPath.rfind('/');
    std::string name;
    if (slash == std::string::npos) {
        name = fullPath;
    } else {
        paths.directory = fullPath.substr(0, slash + 1);
        name = fullPath.substr(slash + 1);
    }
    std::string::size_type dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0) {
        paths.fileName = name;
    } else {
        paths.fileName = name.substr(0, dot);
        paths.extension = name.substr(dot);
    }
    paths.folder = paths.drive + paths.directory;
    return paths;
}

const ModulePaths& GetModulePaths() {
    if (!Computed()) {
        CachedPaths() = SplitModulePath(ReadExecutablePath());
        Computed() = true;
    }
    return CachedPaths();
}

std::string GetDatabasePath() {
    return GetModulePaths().folder + kRelativeDatabasePath;
}

}  // namespace vantrel
