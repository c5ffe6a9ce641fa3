#pragma once

// The writer against the reference copy of the writer it replaced: for a tree, and for the same tree after
// edits that no parsed file gives (values holding quotes of both kinds, "<" and loose "&", names that begin
// with a digit, text children, nameless elements), both layouts and both line ends must give the same bytes
// and the same outcome. Used by fuzz_xml_differential and the writer's tests.

#include <cstddef>
#include <cstdint>

#include "xml/xml_node_ref.h"

namespace vantrel::reference {

// False, with what differed in *what, when the two writers disagree on node.
bool SameBytesWritten(XmlNodeRef node, const char** what);

// False, with what differed in *what, when writing copies of untouched children gives other bytes or another
// outcome than writing everything. The tree below root is written in each of the writer's formats and read back;
// the children of the element with the most of them are found verbatim; then the bytes edit that tree
// (EditAsTold) before the two writes are compared.
bool SameBytesWithVerbatim(XmlNodeRef root, std::uint32_t options, const std::uint8_t* edits, std::size_t size,
                           const char** what);

// Edits the tree below root as the bytes say (each byte picks an edit and the bytes after it give the
// texts); as many edits as there are nodes and bytes.
void EditAsTold(XmlNodeRef root, const std::uint8_t* data, std::size_t size);

}  // namespace vantrel::reference
