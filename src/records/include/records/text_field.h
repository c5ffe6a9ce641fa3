#pragma once

// The one way text goes into the records' fixed, zero-terminated character fields.

#include <cstddef>
#include <cstring>
#include <optional>
#include <string_view>

namespace vantrel {

// Copies text and a terminator into a field of size bytes, cut at the last whole UTF-8 character that fits in
// size - 1 bytes (text in another encoding is cut plainly, losing at most three bytes more). Bytes after the
// terminator are left alone; size 0 writes nothing.
inline void CopyToField(char* field, std::size_t size, std::string_view text) {
    if (field == nullptr || size == 0) {
        return;
    }
    std::size_t length = text.size();
    if (length > size - 1) {
        length = size - 1;
        // back up over continuation bytes to the lead byte of the character that does not fit; a UTF-8
        // character has at most three of them
        for (int step = 0; step < 3 && length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80;
             ++step) {
            --length;
        }
        if ((static_cast<unsigned char>(text[length]) & 0xC0) == 0x80) {
            length = size - 1;
        }
    }
    if (length > 0) {
        std::memcpy(field, text.data(), length);
    }
    field[length] = '\0';
}

// Empties a whole field, then copies text into it as CopyToField does: no bytes of an earlier text stay behind.
template <std::size_t kSize>
inline void CopyText(char (&field)[kSize], std::string_view text) {
    std::memset(field, 0, kSize);
    CopyToField(field, kSize, text);
}

// The text of a fixed field of size bytes; nullopt when the field holds no terminator within them.
inline std::optional<std::string_view> FieldText(const char* field, std::size_t size) {
    if (field == nullptr) {
        return std::nullopt;
    }
    const void* end = std::memchr(field, '\0', size);
    if (end == nullptr) {
        return std::nullopt;
    }
    return std::string_view(field, static_cast<std::size_t>(static_cast<const char*>(end) - field));
}

}  // namespace vantrel
