#include "xml_text_buffer.h"

#include <cstdlib>
#include <cstring>

#include "xml_arena.h"

namespace vantrel {

namespace {

// From this size on the text goes into a mapped block, which is given back to the system when freed.
constexpr std::size_t kMapThreshold = 1024 * 1024;

}  // namespace

bool XmlTextBuffer::Reserve(std::size_t wanted) {
    // a block kept from an earlier text is used again when it is not far too large
    if (data != nullptr && wanted <= capacity && (size > 0 || capacity / 2 <= wanted + kMapThreshold))
        return true;
    if (wanted >= SIZE_MAX / 2)
        return false;
    char* grown = nullptr;
    std::size_t grownMapped = 0;
    if (wanted + 1 >= kMapThreshold) {
        grown = static_cast<char*>(XmlMapBlock(wanted + 1, &grownMapped));
    } else {
        grown = static_cast<char*>(std::malloc(wanted + 1));
    }
    if (grown == nullptr)
        return false;
    if (size > 0)
        std::memcpy(grown, data, size);
    grown[size] = '\0';
    XmlFreeTextBlock(data, mapped);
    data = grown;
    mapped = grownMapped;
    capacity = grownMapped > 0 ? grownMapped - 1 : wanted;
    return true;
}

char* XmlTextBuffer::Grow(std::size_t wanted, std::size_t used) {
    size = used;
    return Reserve(wanted) ? data : nullptr;
}

void XmlTextBuffer::Finish(std::size_t length) {
    size = length;
    if (data != nullptr)
        data[size] = '\0';
}

void XmlFreeTextBlock(char* data, std::size_t mapped) {
    if (mapped > 0) {
        XmlUnmapBlock(data, mapped);
    } else {
        std::free(data);
    }
}

void XmlTextBuffer::Free() {
    XmlFreeTextBlock(data, mapped);
    Release();
}

std::size_t XmlCutPiecesAtNul(char* data, std::size_t size) {
    std::size_t out = 0;
    for (std::size_t in = 0; in < size; in += kXmlReadPiece) {
        std::size_t length = size - in < kXmlReadPiece ? size - in : kXmlReadPiece;
        const void* nul = std::memchr(data + in, '\0', length);
        std::size_t kept =
            nul != nullptr ? static_cast<std::size_t>(static_cast<const char*>(nul) - (data + in)) : length;
        if (out != in && kept > 0)
            std::memmove(data + out, data + in, kept);
        out += kept;
    }
    data[out] = '\0';
    return out;
}

}  // namespace vantrel
