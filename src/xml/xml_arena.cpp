#include "xml/xml_arena.h"

#include <cstdlib>
#include <new>

namespace vantrel {

namespace {

constexpr std::size_t kFirstChunkSize = 1024;
// small enough that the last, partly used chunk costs little; large enough to come from the heap cheaply
constexpr std::size_t kMaxChunkSize = 256 * 1024;

}  // namespace

struct XmlArena::Chunk {
    Chunk* next;
    std::size_t size;
};

struct XmlArena::LargeBlock {
    LargeBlock* previous;
    LargeBlock* next;
    std::size_t size;
    std::size_t padding;  // keeps the payload 16-byte aligned
};

XmlArena::XmlArena() : nextChunkSize_(kFirstChunkSize) {}

XmlArena::~XmlArena() {
    while (chunks_ != nullptr) {
        Chunk* next = chunks_->next;
        std::free(chunks_);
        chunks_ = next;
    }
    while (large_ != nullptr) {
        LargeBlock* next = large_->next;
        std::free(large_);
        large_ = next;
    }
}

std::size_t XmlArena::RoundUp(std::size_t size) {
    if (size == 0)
        size = 1;
    if (size <= kSmallLimit)
        return (size + kSmallStep - 1) & ~(kSmallStep - 1);
    if (size > kLargeLimit)
        return size;
    std::size_t rounded = kSmallLimit * 2;
    while (rounded < size) rounded *= 2;
    return rounded;
}

int XmlArena::ClassOf(std::size_t roundedSize) {
    if (roundedSize <= kSmallLimit)
        return static_cast<int>(roundedSize / kSmallStep) - 1;
    int index = static_cast<int>(kSmallLimit / kSmallStep);
    for (std::size_t s = kSmallLimit * 2; s < roundedSize; s *= 2) ++index;
    return index;
}

void* XmlArena::AllocateFromChunk(std::size_t size) {
    if (static_cast<std::size_t>(limit_ - cursor_) < size) {
        // The unused tail of the old chunk is not lost for good: it stays reserved until the arena dies.
        std::size_t chunkSize = nextChunkSize_;
        while (chunkSize < size + sizeof(Chunk)) chunkSize *= 2;
        auto* chunk = static_cast<Chunk*>(std::malloc(chunkSize));
        if (chunk == nullptr)
            return nullptr;
        chunk->next = chunks_;
        chunk->size = chunkSize;
        chunks_ = chunk;
        reserved_ += chunkSize;
        cursor_ = reinterpret_cast<char*>(chunk) + ((sizeof(Chunk) + 15) & ~std::size_t{15});
        limit_ = reinterpret_cast<char*>(chunk) + chunkSize;
        if (nextChunkSize_ < kMaxChunkSize)
            nextChunkSize_ *= 2;
    }
    void* block = cursor_;
    cursor_ += size;
    return block;
}

void* XmlArena::AllocateSlow(std::size_t size) {
    std::size_t rounded = RoundUp(size);
    if (rounded > kLargeLimit) {
        auto* block = static_cast<LargeBlock*>(std::malloc(sizeof(LargeBlock) + rounded));
        if (block == nullptr)
            return nullptr;
        block->previous = nullptr;
        block->next = large_;
        block->size = rounded;
        if (large_ != nullptr)
            large_->previous = block;
        large_ = block;
        reserved_ += sizeof(LargeBlock) + rounded;
        return block + 1;
    }
    int sizeClass = ClassOf(rounded);
    if (FreeBlock* block = free_[sizeClass]) {
        free_[sizeClass] = block->next;
        return block;
    }
    return AllocateFromChunk(rounded);
}

void XmlArena::Release(void* block, std::size_t size) {
    if (block == nullptr)
        return;
    std::size_t rounded = RoundUp(size);
    if (rounded > kLargeLimit) {
        LargeBlock* large = static_cast<LargeBlock*>(block) - 1;
        if (large->previous != nullptr) {
            large->previous->next = large->next;
        } else {
            large_ = large->next;
        }
        if (large->next != nullptr)
            large->next->previous = large->previous;
        reserved_ -= sizeof(LargeBlock) + large->size;
        std::free(large);
        return;
    }
    int sizeClass = ClassOf(rounded);
    auto* freeBlock = static_cast<FreeBlock*>(block);
    freeBlock->next = free_[sizeClass];
    free_[sizeClass] = freeBlock;
}

}  // namespace vantrel
