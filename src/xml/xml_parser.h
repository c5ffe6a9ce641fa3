#pragma once

// The tolerant, non-copying XML parser and the whole-file reader. The parser never reports an error:
// what it cannot make sense of it skips, and where the text ends it stops, keeping the tree built so far.

#include <cstddef>
#include <cstdint>

#include "xml/xml_node.h"

namespace vantrel {

// Bit set; bits not listed are ignored.
struct XmlParseOptions {
    enum : std::uint32_t {
        KeepDeclarations = 0x0002,         // "<?...?>" become Declaration nodes; else skipped up to ">"
        KeepDtd = 0x0004,                  // DOCTYPE and INCLUDE sections become nodes; else skipped
        KeepComments = 0x0008,             // comments become Comment nodes; else skipped
        KeepCData = 0x0010,                // CDATA sections become CData nodes; else skipped
        TrimText = 0x0040,                 // trailing white space trimmed from Text values
        TrimAttributeValues = 0x0080,      // attribute values trimmed at both ends
        TrimSections = 0x0100,             // CData and IncludeSection contents trimmed
        TrimMarkupDeclarations = 0x0200,   // raw rest of ENTITY, ATTLIST, ELEMENT, NOTATION trimmed
        TrimInternalSubset = 0x0400,       // raw subset trimmed when neither parsed nor stopped after
        TrimComments = 0x0800,             // comment contents trimmed
        ParseInternalSubset = 0x2000,      // a kept DOCTYPE's internal subset becomes child nodes
        StopAfterInternalSubset = 0x4000,  // the parse ends right after a kept subset's closing "]"
        AllOptions = 0xFFFF,
    };
};

// DOCTYPEs nested inside internal subsets deeper than this are skipped like markup that is not kept.
constexpr int kMaxDoctypeNesting = 64;

// Parses NUL-terminated text into children of parent, whose tree's arena supplies the memory; names and
// values point into text, which must outlive the tree. growthStep is the least number of slots a full
// child array grows by (below 1 counts as 1). Returns where parsing stopped: the terminating NUL, the byte
// after a subset's "]" when StopAfterInternalSubset ended the parse, or text itself when text or parent
// is null. While a subset is parsed one byte of text is set to NUL and put back afterwards.
const char* XmlParse(char* text, XmlNode* parent, std::int32_t growthStep, std::uint32_t options);

// Reads the whole file into a new malloc'd NUL-terminated buffer (the caller frees it with free()).
// Works in chunks of chunkSize - 1 bytes: a NUL byte cuts the rest of its chunk from the text, while
// *count still includes it. True when at least one byte was read; false (text null, count 0) for a missing,
// unreadable or empty file, null arguments or a chunk size below 2.
bool XmlReadFile(const char* path, char** text, std::size_t* count, std::size_t chunkSize);

struct XmlFileReport;
// The checked form behind XmlDocument::LoadFileChecked: opens with O_NOFOLLOW | O_NONBLOCK, reads only a
// regular file of at most maxBytes, and fills report (status, errno, fstat, size; a NUL byte marks the text
// damaged). On Read the text is as XmlReadFile gives it; otherwise text is null and count 0.
void XmlReadFileChecked(const char* path, std::uint64_t maxBytes, char** text, std::size_t* count,
                        std::size_t chunkSize, XmlFileReport& report);

}  // namespace vantrel
