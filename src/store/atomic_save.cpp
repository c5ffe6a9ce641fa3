#include "atomic_save.h"

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

}  // namespace

SavedFile SaveAtomically(const std::string& path, XmlNodeRef node, const SaveSinkFactory& factory,
                         const struct stat* like, const XmlVerbatim& verbatim) {
    std::uint64_t hash = 0;
    auto write = [&](int fd) {
        std::unique_ptr<XmlSink> sink = factory ? factory(fd) : std::make_unique<XmlFdSink>(fd);
        if (sink == nullptr) {
            return false;
        }
        return WriteNode(*sink, fd, node, verbatim, hash);
    };
    AtomicWriteResult placed = WriteFileAtomically(path, Placement::Replace, write, like);
    SavedFile saved;
    saved.error = placed.error;
    saved.info = placed.info;
    saved.hash = hash;
    return saved;
}

}  // namespace vantrel
