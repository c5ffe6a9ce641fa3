#pragma once

// A fast 64-bit hash of file contents, fed in pieces of any size. It tells whether a file changed under us,
// not what an attacker could forge.

#include <cstddef>
#include <cstdint>

namespace vantrel {

class ContentHash {
public:
    void Add(const void* data, std::size_t size);
    // The hash of everything added so far; the same bytes give the same value however they were split.
    std::uint64_t Value() const;

    static std::uint64_t Of(const void* data, std::size_t size) {
        ContentHash hash;
        hash.Add(data, size);
        return hash.Value();
    }

private:
    void Mix(const unsigned char* block);

    std::uint64_t lanes_[4] = {0x243F6A8885A308D3ull, 0x13198A2E03707344ull, 0xA4093822299F31D0ull,
                               0x082EFA98EC4E6C89ull};
    unsigned char stash_[64] = {};  // a block of Mix, while incomplete
    std::size_t stashed_ = 0;
    std::uint64_t total_ = 0;
};

}  // namespace vantrel
