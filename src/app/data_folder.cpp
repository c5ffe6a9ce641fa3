#include "app/data_folder.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "paths/program_paths.h"

namespace vantrel {
namespace {

std::string Variable(const char* name) {
    const char* value = std::getenv(name);
    return value == nullptr ? std::string() : std::string(value);
}

bool IsFolder(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Absolute and without "." or ".." steps, ending in '/'.
std::string AbsoluteFolder(const std::string& folder, const std::string& workingFolder) {
    std::filesystem::path path(folder);
    if (path.is_relative()) {
        path = std::filesystem::path(workingFolder) / path;
    }
    std::string text = path.lexically_normal().string();
    while (text.size() > 1 && text.back() == '/') {
        text.pop_back();
    }
    return WithTrailingSlash(text);
}

DataFolderChoice GivenFolder(const std::string& given, DataFolderSource source, const DataFolderRequest& request) {
    DataFolderChoice choice;
    choice.source = source;
    choice.folder = AbsoluteFolder(given, request.workingFolder);
    if (!IsFolder(choice.folder)) {
        choice.problem = "the data folder " + choice.folder + " " + DescribeSource(source) + " does not exist";
    }
    return choice;
}

}  // namespace

DataFolderRequest RequestFromEnvironment(const std::string& programFolder, const std::string& option) {
    DataFolderRequest request;
    request.programFolder = programFolder;
    request.option = option;
    request.environment = Variable(kDataDirVariable);
    request.xdgDataHome = Variable("XDG_DATA_HOME");
    request.home = Variable("HOME");
    if (request.home.empty()) {
        if (const passwd* user = ::getpwuid(::getuid())) {
            request.home = user->pw_dir != nullptr ? user->pw_dir : "";
        }
    }
    std::error_code failed;
    request.workingFolder = std::filesystem::current_path(failed).string();
    request.writable = [](const std::string& folder) { return ::access(folder.c_str(), W_OK | X_OK) == 0; };
    return request;
}

DataFolderChoice ChooseDataFolder(const DataFolderRequest& request) {
    if (!request.option.empty()) {
        return GivenFolder(request.option, DataFolderSource::kOption, request);
    }
    if (!request.environment.empty()) {
        return GivenFolder(request.environment, DataFolderSource::kEnvironment, request);
    }
    const std::string beside = PathsBeside(request.programFolder).dataFolder;
    const bool installed = request.programFolder.rfind("/usr/", 0) == 0;
    if (!installed && IsFolder(beside) && (!request.writable || request.writable(beside))) {
        DataFolderChoice choice;
        choice.folder = beside;
        choice.source = DataFolderSource::kBesideProgram;
        return choice;
    }
    DataFolderChoice choice;
    choice.source = DataFolderSource::kUserData;
    // relative values of XDG_DATA_HOME are invalid and to be ignored
    std::string base = request.xdgDataHome;
    if (base.empty() || base.front() != '/') {
        base = request.home.empty() || request.home.front() != '/' ? std::string() : request.home + "/.local/share";
    }
    if (base.empty()) {
        choice.problem = "no user data folder: neither XDG_DATA_HOME nor HOME names an absolute folder";
        return choice;
    }
    choice.folder = AbsoluteFolder(base + "/vantrel", "/");
    return choice;
}

DataFolderCreation CreateDataFolder(const std::string& folder) {
    DataFolderCreation result;
    std::string path;
    std::size_t start = 0;
    while (start < folder.size()) {
        std::size_t slash = folder.find('/', start + 1);
        if (slash == std::string::npos) {
            slash = folder.size();
        }
        path = folder.substr(0, slash);
        start = slash;
        if (path.empty() || path == "/") {
            continue;
        }
        if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
            result.error = errno;
            result.problem = "cannot create the data folder " + path + ": " + std::strerror(result.error);
            return result;
        }
        if (!IsFolder(path)) {
            result.error = ENOTDIR;
            result.problem = "cannot create the data folder " + folder + ": " + path + " is not a folder";
            return result;
        }
    }
    return result;
}

const char* DescribeSource(DataFolderSource source) {
    switch (source) {
        case DataFolderSource::kOption:
            return "given by --data-dir";
        case DataFolderSource::kEnvironment:
            return "given by VANTREL_DATA_DIR";
        case DataFolderSource::kBesideProgram:
            return "beside the program";
        case DataFolderSource::kUserData:
            return "the user's data folder";
    }
    return "";
}

}  // namespace vantrel
