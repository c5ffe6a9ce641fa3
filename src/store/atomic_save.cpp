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

// Starts the disk writes of every finished stretch while the rest is still being produced, so that the
// final fsync waits for the last stretch only.
class WriteBehindSink : public XmlSink {
public:
    WriteBehindSink(XmlSink& inner, int fd) : inner_(inner), fd_(fd) {}
    bool Write(const char* data, std::size_t size) override {
        if (!inner_.Write(data, size)) {
            return false;
        }
        written_ += static_cast<off_t>(size);
        if (written_ - started_ >= kStretch) {
            sync_file_range(fd_, started_, written_ - started_, SYNC_FILE_RANGE_WRITE);
            started_ = written_;
        }
        return true;
    }

private:
    static constexpr off_t kStretch = 4 << 20;
    XmlSink& inner_;
    int fd_;
    off_t written_ = 0;
    off_t started_ = 0;
};

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
        if (sink != nullptr) {
            WriteBehindSink writeBehind(*sink, fd);
            ok = XmlWrite(writeBehind, node, XmlLayout::Indented, XmlLineEnd::CrLf);
        } else {
            ok = false;
        }
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
