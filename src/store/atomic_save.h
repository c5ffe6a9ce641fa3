#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "store/store_options.h"
#include "xml/xml_node_ref.h"
#include "xml/xml_writer.h"

namespace vantrel {

struct SavedFile {
    int error = 0;           // errno of the failed step; 0 on success
    struct stat info {};     // fstat of the new file
    std::uint64_t hash = 0;  // ContentHash of the bytes written

    bool Ok() const { return error == 0; }
};

// Writes node (indented, CR LF) to a new file ".<name>.tmp-XXXXXX" beside path (mode 0600, or the owner,
// group and mode of like where it can), syncs it and renames it over path. Not Ok, with path untouched and
// the temporary file removed, when any step fails; a missing folder creates nothing. A null factory writes
// straight to the descriptor; a factory's sink writes at the descriptor's offset too. What verbatim holds is
// copied where it still applies (XmlWrite). expectedSize, when known (the size of the file replaced), is
// taken on disk before the writes; the file still ends where the document does.
SavedFile SaveAtomically(const std::string& path, XmlNodeRef node, const SaveSinkFactory& factory,
                         const struct stat* like = nullptr, const XmlVerbatim& verbatim = XmlVerbatim(),
                         off_t expectedSize = 0);

}  // namespace vantrel
