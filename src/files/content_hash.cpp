#include "files/content_hash.h"

#include <cstring>

namespace vantrel {
namespace {

constexpr std::uint64_t kPrime1 = 0x9E3779B185EBCA87ull;
constexpr std::uint64_t kPrime2 = 0xC2B2AE3D27D4EB4Full;

std::uint64_t Rotate(std::uint64_t value, int bits) {
    return (value << bits) | (value >> (64 - bits));
}

std::uint64_t Word(const unsigned char* p) {
    std::uint64_t word;
    std::memcpy(&word, p, sizeof word);
    return word;
}

std::uint64_t Round(std::uint64_t lane, std::uint64_t word) {
    return Rotate(lane + word * kPrime2, 31) * kPrime1;
}

// The two halves of the 128-bit product, folded together: one multiplication takes in 16 bytes.
std::uint64_t Fold(std::uint64_t a, std::uint64_t b) {
    unsigned __int128 product = static_cast<unsigned __int128>(a) * b;
    return static_cast<std::uint64_t>(product) ^ static_cast<std::uint64_t>(product >> 64);
}

}  // namespace

void ContentHash::Mix(const unsigned char* block) {
    // 16 bytes a lane: one meets a fixed word, the other the lane, so that what went before is carried on; the
    // four lanes are independent, which keeps the multipliers busy
    for (int i = 0; i < 4; ++i) {
        lanes_[i] = Fold(Word(block + 16 * i) ^ kPrime1, Word(block + 16 * i + 8) ^ lanes_[i]);
    }
}

void ContentHash::Add(const void* data, std::size_t size) {
    const auto* p = static_cast<const unsigned char*>(data);
    total_ += size;
    if (stashed_ > 0) {
        std::size_t take = sizeof stash_ - stashed_ < size ? sizeof stash_ - stashed_ : size;
        std::memcpy(stash_ + stashed_, p, take);
        stashed_ += take;
        p += take;
        size -= take;
        if (stashed_ < sizeof stash_) {
            return;
        }
        Mix(stash_);
        stashed_ = 0;
    }
    for (; size >= sizeof stash_; p += sizeof stash_, size -= sizeof stash_) {
        Mix(p);
    }
    if (size > 0) {
        std::memcpy(stash_, p, size);
        stashed_ = size;
    }
}

std::uint64_t ContentHash::Value() const {
    std::uint64_t hash = Rotate(lanes_[0], 1) + Rotate(lanes_[1], 7) + Rotate(lanes_[2], 12) + Rotate(lanes_[3], 18);
    for (std::uint64_t lane : lanes_) {
        hash = (hash ^ Round(0, lane)) * kPrime1 + kPrime2;
    }
    hash += total_;
    for (std::size_t i = 0; i < stashed_; ++i) {
        hash = Rotate(hash ^ (stash_[i] * kPrime2), 11) * kPrime1;
    }
    hash ^= hash >> 33;
    hash *= kPrime2;
    hash ^= hash >> 29;
    return hash;
}

}  // namespace vantrel
