#pragma once

// Internal to the XML library: reading a whole file into one NUL-terminated text buffer.

#include <cstddef>
#include <cstdint>

#include "xml/xml_file_report.h"

namespace vantrel {

// The file is taken in pieces of this many bytes (a read chunk of 4096 with one byte kept for the
// terminator): a NUL byte cuts the rest of its piece from the text, and the next piece follows directly.
constexpr std::size_t kXmlReadPiece = 4095;

// Large texts live in a mapped block laid out for huge pages, small ones on the heap.
struct XmlTextBuffer {
    char* data = nullptr;      // data[size] is NUL once read
    std::size_t size = 0;      // bytes read
    std::size_t capacity = 0;  // bytes of text that fit, not counting the terminator
    std::size_t mapped = 0;    // non-zero: data is a mapped block of this size, else from malloc

    // Room for capacity bytes and a terminator, keeping what is there; false when out of memory.
    bool Reserve(std::size_t wanted);
    void Free();
};

// Gives back a text buffer's bytes: a mapped block of that size, or (mapped 0) a block from malloc.
void XmlFreeTextBlock(char* data, std::size_t mapped);

// Reads the whole file. True when at least one byte was read; false (buffer empty) for a missing,
// unreadable or empty file or a null path.
bool XmlReadFile(const char* path, XmlTextBuffer& text);

// The checked form behind XmlDocument::LoadFileChecked: opens with O_NOFOLLOW | O_NONBLOCK, reads only a
// regular file of at most maxBytes, and fills report (status, errno, fstat, size). On Read the buffer holds
// the file's bytes; otherwise it is empty.
void XmlReadFileChecked(const char* path, std::uint64_t maxBytes, XmlTextBuffer& text, XmlFileReport& report);

// Cuts every piece of the size bytes at data at its first NUL and joins the pieces; gives the new length and
// leaves a terminator there.
std::size_t XmlCutPiecesAtNul(char* data, std::size_t size);

}  // namespace vantrel
