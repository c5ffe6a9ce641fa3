#include "atomic_save.h"

#include <fcntl.h>

#include "files/atomic_file.h"
#include "files/content_hash.h"

namespace vantrel {
namespace {

// Starts the disk writes of every finished stretch while the rest is still being produced, so that the
// final fsync waits for the last stretch only; hashes what passes.
class WriteBehindSink : public XmlSink {
public:
    WriteBehindSink(XmlSink& inner, int fd) : inner_(inner), fd_(fd) {}
    bool Write(const char* data, std::size_t size) override {
        if (!inner_.Write(data, size)) {
            return false;
        }
        hash_.Add(data, size);
        written_ += static_cast<off_t>(size);
        if (written_ - started_ >= kStretch) {
            sync_file_range(fd_, started_, written_ - started_, SYNC_FILE_RANGE_WRITE);
            started_ = written_;
        }
        return true;
    }
    std::uint64_t Hash() const { return hash_.Value(); }

private:
    static constexpr off_t kStretch = 4 << 20;
    XmlSink& inner_;
    int fd_;
    off_t written_ = 0;
    off_t started_ = 0;
    ContentHash hash_;
};

}  // namespace

SavedFile SaveAtomically(const std::string& path, XmlNodeRef node, const SaveSinkFactory& factory,
                         const struct stat* like) {
    std::uint64_t hash = 0;
    auto write = [&](int fd) {
        std::unique_ptr<XmlSink> sink = factory ? factory(fd) : std::make_unique<XmlFdSink>(fd);
        if (sink == nullptr) {
            return false;
        }
        WriteBehindSink writeBehind(*sink, fd);
        bool ok = XmlWrite(writeBehind, node, XmlLayout::Indented, XmlLineEnd::CrLf);
        hash = writeBehind.Hash();
        return ok;
    };
    AtomicWriteResult placed = WriteFileAtomically(path, Placement::Replace, write, like);
    SavedFile saved;
    saved.error = placed.error;
    saved.info = placed.info;
    saved.hash = hash;
    return saved;
}

}  // namespace vantrel
