#include "atomic_save.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <new>

#include "files/atomic_file.h"
#include "write_behind_sink.h"

namespace vantrel {
namespace {

// Serialises node through a write-behind sink; on failure errno says why (EIO when nothing did).
bool WriteNode(XmlSink& sink, int fd, XmlNodeRef node, const XmlVerbatim& verbatim, std::uint64_t& hash) {
    std::unique_ptr<WriteBehindSink> writeBehind;
    try {
        writeBehind = std::make_unique<WriteBehindSink>(sink, fd);
    } catch (const std::bad_alloc&) {
        errno = ENOMEM;
        return false;
    }
    bool serialised = XmlWrite(*writeBehind, node, XmlLayout::Indented, XmlLineEnd::CrLf, verbatim);
    if (!writeBehind->Finish()) {
        return false;
    }
    if (!serialised) {
        errno = EIO;  // the tree holds what cannot be written back as it reads
        return false;
    }
    hash = writeBehind->Hash();
    return true;
}

// Takes the blocks for size bytes at once, which spares the file system finding room for each page as it is
// written. Nothing is lost when it cannot: the writes then find their room as usual.
void Reserve(int fd, off_t size) {
    if (size > 0) {
        (void)fallocate(fd, 0, 0, size);
    }
}

// The file ends where the writes ended: a reservation longer than them, or one that failed part way, would
// otherwise leave zeros after the document.
bool EndWhereWritten(int fd) {
    off_t end = lseek(fd, 0, SEEK_CUR);
    struct stat info {};
    if (end < 0 || fstat(fd, &info) != 0) {
        return false;
    }
    return info.st_size <= end || ftruncate(fd, end) == 0;
}

}  // namespace

SavedFile SaveAtomically(const std::string& path, XmlNodeRef node, const SaveSinkFactory& factory,
                         const struct stat* like, const XmlVerbatim& verbatim, off_t expectedSize) {
    std::uint64_t hash = 0;
    auto write = [&](int fd) {
        std::unique_ptr<XmlSink> sink = factory ? factory(fd) : std::make_unique<XmlFdSink>(fd);
        if (sink == nullptr) {
            return false;
        }
        Reserve(fd, expectedSize);
        return WriteNode(*sink, fd, node, verbatim, hash) && EndWhereWritten(fd);
    };
    AtomicWriteResult placed = WriteFileAtomically(path, Placement::Replace, write, like);
    SavedFile saved;
    saved.error = placed.error;
    saved.info = placed.info;
    saved.hash = hash;
    return saved;
}

}  // namespace vantrel
