#pragma once

// Internal to the XML library: the text buffer a tree borrows from, filled by the files library's read.

#include <cstddef>
#include <cstdint>

#include "files/file_read.h"

namespace vantrel {

// The file is taken in pieces of this many bytes (a read chunk of 4096 with one byte kept for the
// terminator): a NUL byte cuts the rest of its piece from the text, and the next piece follows directly.
constexpr std::size_t kXmlReadPiece = 4095;

// One NUL-terminated block; large texts are mapped, small ones come from malloc.
struct XmlTextBuffer final : ReadBuffer {
    char* data = nullptr;      // data[size] is NUL once filled
    std::size_t size = 0;      // bytes of text
    std::size_t capacity = 0;  // bytes of text that fit, not counting the terminator
    std::size_t mapped = 0;    // non-zero: data is a mapped block of this size, else from malloc

    XmlTextBuffer() = default;
    ~XmlTextBuffer() override { Free(); }
    XmlTextBuffer(const XmlTextBuffer&) = delete;
    XmlTextBuffer& operator=(const XmlTextBuffer&) = delete;

    // Room for wanted bytes and a terminator, keeping the first size bytes; false when out of memory.
    bool Reserve(std::size_t wanted);
    char* Grow(std::size_t wanted, std::size_t used) override;
    // Sets size and the terminator after the read filled the buffer.
    void Finish(std::size_t length);
    void Free();
    // Hands the block over: the buffer is empty afterwards.
    void Release() {
        data = nullptr;
        size = capacity = mapped = 0;
    }
};

// Gives back a text buffer's bytes: a mapped block of that size, or (mapped 0) a block from malloc.
void XmlFreeTextBlock(char* data, std::size_t mapped);

// Cuts every piece of the size bytes at data at its first NUL and joins the pieces; gives the new length and
// leaves a terminator there.
std::size_t XmlCutPiecesAtNul(char* data, std::size_t size);

}  // namespace vantrel
