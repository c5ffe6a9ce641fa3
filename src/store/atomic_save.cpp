#include "store/atomic_save.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <vector>

namespace vantrel {
namespace {

std::string FolderOf(const std::string& path) {
    std::string::size_type slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
}

void SyncFolder(const std::string& folder) {
    int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        fsync(fd);
        close(fd);
    }
}

}  // namespace

bool SaveAtomically(const std::string& path, XmlNodeRef node, const SaveSinkFactory& factory) {
    if (path.empty()) {
        return false;
    }
    std::string pattern = path + ".XXXXXX";
    std::vector<char> tempPath(pattern.begin(), pattern.end());
    tempPath.push_back('\0');
    int fd = mkostemp(tempPath.data(), O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    bool ok = fchmod(fd, S_IRUSR | S_IWUSR) == 0;
    if (ok) {
        std::unique_ptr<XmlSink> sink = factory ? factory(fd) : std::make_unique<XmlFdSink>(fd);
        ok = sink != nullptr && XmlWrite(*sink, node, XmlLayout::Indented, XmlLineEnd::CrLf);
    }
    ok = ok && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    ok = ok && std::rename(tempPath.data(), path.c_str()) == 0;
    if (!ok) {
        unlink(tempPath.data());
        return false;
    }
    SyncFolder(FolderOf(path));
    return true;
}

}  // namespace vantrel
