#pragma once

// Internal to the XML library: the byte classes of the scanner. It looks at single bytes: white space is any byte
// from 0x01 to 0x20; a name is a maximal run of ASCII letters and digits, "_", ":", "-", "." and bytes from 0x80.

namespace vantrel::parsing {

enum ByteClass : unsigned char { kSpace = 1, kName = 2 };

struct ByteClasses {
    unsigned char table[256] = {};
    constexpr ByteClasses() {
        for (int c = 1; c <= 0x20; ++c) table[c] = kSpace;
        for (int c = '0'; c <= '9'; ++c) table[c] = kName;
        for (int c = 'A'; c <= 'Z'; ++c) table[c] = kName;
        for (int c = 'a'; c <= 'z'; ++c) table[c] = kName;
        table[static_cast<unsigned char>('_')] = kName;
        table[static_cast<unsigned char>(':')] = kName;
        table[static_cast<unsigned char>('-')] = kName;
        table[static_cast<unsigned char>('.')] = kName;
        for (int c = 0x80; c <= 0xFF; ++c) table[c] = kName;
    }
};

inline constexpr ByteClasses kClasses;

inline bool IsSpace(char c) {
    return kClasses.table[static_cast<unsigned char>(c)] == kSpace;
}
inline bool IsName(char c) {
    return kClasses.table[static_cast<unsigned char>(c)] == kName;
}
inline char* SkipSpace(char* p) {
    while (IsSpace(*p)) ++p;
    return p;
}
inline const char* SkipName(const char* p) {
    // names are short but many: four bytes a round
    for (;;) {
        if (!IsName(p[0]))
            return p;
        if (!IsName(p[1]))
            return p + 1;
        if (!IsName(p[2]))
            return p + 2;
        if (!IsName(p[3]))
            return p + 3;
        p += 4;
    }
}
inline char* SkipName(char* p) {
    return const_cast<char*>(SkipName(static_cast<const char*>(p)));
}

}  // namespace vantrel::parsing
