#pragma once

#include <functional>
#include <memory>
#include <string>

#include "xml/xml_node_ref.h"
#include "xml/xml_writer.h"

namespace vantrel {

// Makes the sink that writes the file's bytes into an open descriptor (tests wrap it to fail part-way).
using SaveSinkFactory = std::function<std::unique_ptr<XmlSink>(int fd)>;

// Writes node (indented, CR LF) to a new file beside path (mode 0600), flushes and syncs it and renames it
// over path. False, with path untouched and the temporary file removed, when any step fails; a missing
// folder creates nothing. A null factory writes straight to the descriptor.
bool SaveAtomically(const std::string& path, XmlNodeRef node, const SaveSinkFactory& factory);

}  // namespace vantrel
