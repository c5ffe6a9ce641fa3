#include "xml/xml_arena.h"

#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <new>

namespace vantrel {

namespace {

constexpr std::size_t kFirstChunkSize = 1024;
// small enough that the last, partly used chunk costs little; large enough to come from the heap cheaply
constexpr std::size_t kMaxChunkSize = 256 * 1024;
// From here on a tree's memory is mapped in huge-page-sized steps: one fault per step instead of one per page.
constexpr std::uint64_t kMapThreshold = 1024 * 1024;
constexpr std::size_t kHugePage = 2 * 1024 * 1024;

std::size_t RoundUpTo(std::size_t size, std::size_t step) {
    return (size + step - 1) / step * step;
}

// Blocks given back, kept for reuse; documents may live on several threads.
struct KeptBlocks {
    static constexpr int kSlots = 4;
    std::mutex mutex;
    void* blocks[kSlots] = {};
    std::size_t sizes[kSlots] = {};
    std::size_t total = 0;
};

KeptBlocks& Kept() {
    static KeptBlocks* kept = new KeptBlocks();  // never destroyed: blocks may be given back during exit
    return *kept;
}

void Advise(void* block, std::size_t length, std::size_t hugeBytes) {
#ifdef MADV_HUGEPAGE
    std::size_t huge = hugeBytes < length ? hugeBytes / kHugePage * kHugePage : length;
    if (huge > 0)
        ::madvise(block, huge, MADV_HUGEPAGE);
#else
    (void)block;
    (void)length;
    (void)hugeBytes;
#endif
}

}  // namespace

void* XmlMapBlock(std::size_t size, std::size_t* mapped, std::size_t hugeBytes) {
    *mapped = 0;
    if (size == 0 || size > SIZE_MAX - 2 * kHugePage)
        return nullptr;
    std::size_t length = RoundUpTo(size, kHugePage);
    {
        // a kept block that fits without wasting more than it gives
        KeptBlocks& kept = Kept();
        std::lock_guard<std::mutex> lock(kept.mutex);
        for (int i = 0; i < KeptBlocks::kSlots; ++i) {
            if (kept.blocks[i] != nullptr && kept.sizes[i] >= length && kept.sizes[i] <= 2 * length) {
                void* block = kept.blocks[i];
                *mapped = kept.sizes[i];
                kept.total -= kept.sizes[i];
                kept.blocks[i] = nullptr;
                kept.sizes[i] = 0;
                return block;
            }
        }
    }
    // over-map by one huge page and trim, so that the block starts on a huge-page boundary
    std::size_t span = length + kHugePage;
    void* start = ::mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (start == MAP_FAILED)
        return nullptr;
    auto address = reinterpret_cast<std::uintptr_t>(start);
    std::uintptr_t aligned = RoundUpTo(address, kHugePage);
    if (aligned > address)
        ::munmap(start, aligned - address);
    std::size_t tail = span - (aligned - address) - length;
    if (tail > 0)
        ::munmap(reinterpret_cast<void*>(aligned + length), tail);
    Advise(reinterpret_cast<void*>(aligned), length, hugeBytes);
    *mapped = length;
    return reinterpret_cast<void*>(aligned);
}

void XmlUnmapBlock(void* block, std::size_t mapped) {
    if (block == nullptr || mapped == 0)
        return;
    {
        KeptBlocks& kept = Kept();
        std::lock_guard<std::mutex> lock(kept.mutex);
        if (kept.total + mapped <= kXmlKeptBlockBytes) {
            for (int i = 0; i < KeptBlocks::kSlots; ++i) {
                if (kept.blocks[i] == nullptr) {
                    kept.blocks[i] = block;
                    kept.sizes[i] = mapped;
                    kept.total += mapped;
                    return;
                }
            }
        }
    }
    ::munmap(block, mapped);
}

struct XmlArena::Chunk {
    Chunk* next;
    std::size_t size;
    bool mapped;
};

struct XmlArena::LargeBlock {
    LargeBlock* previous;
    LargeBlock* next;
    std::size_t size;
    std::size_t padding;  // keeps the payload 16-byte aligned
};

XmlArena::XmlArena(std::uint64_t expectedBytes) : nextChunkSize_(kFirstChunkSize) {
    if (expectedBytes >= kMapThreshold && expectedBytes < SIZE_MAX / 2) {
        mapChunks_ = true;
        nextChunkSize_ = static_cast<std::size_t>(expectedBytes);
    }
}

XmlArena::~XmlArena() {
    while (chunks_ != nullptr) {
        Chunk* next = chunks_->next;
        if (chunks_->mapped) {
            XmlUnmapBlock(chunks_, chunks_->size);
        } else {
            std::free(chunks_);
        }
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

bool XmlArena::AddChunk(std::size_t size) {
    // The unused tail of the old chunk is not lost for good: it stays reserved until the arena dies.
    std::size_t chunkSize = nextChunkSize_;
    while (chunkSize < size + sizeof(Chunk)) chunkSize *= 2;
    Chunk* chunk = nullptr;
    if (mapChunks_) {
        std::size_t mapped = 0;
        chunk = static_cast<Chunk*>(XmlMapBlock(chunkSize, &mapped));
        chunkSize = mapped;
    } else {
        chunk = static_cast<Chunk*>(std::malloc(chunkSize));
    }
    if (chunk == nullptr)
        return false;
    if (chunks_ != nullptr && chunks_->mapped)
        reserved_ += chunks_->size;  // the chunk left behind counts whole from now on
    chunk->next = chunks_;
    chunk->size = chunkSize;
    chunk->mapped = mapChunks_;
    chunks_ = chunk;
    if (!mapChunks_)
        reserved_ += chunkSize;
    cursor_ = reinterpret_cast<char*>(chunk) + ((sizeof(Chunk) + 15) & ~std::size_t{15});
    limit_ = reinterpret_cast<char*>(chunk) + chunkSize;
    if (mapChunks_) {
        // an estimate that fell short: grow in halves of it rather than by the whole again
        nextChunkSize_ = nextChunkSize_ / 2 > kHugePage ? nextChunkSize_ / 2 : kHugePage;
    } else if (nextChunkSize_ < kMaxChunkSize) {
        nextChunkSize_ *= 2;
    }
    return true;
}

void* XmlArena::AllocateFromChunk(std::size_t size) {
    if (static_cast<std::size_t>(limit_ - cursor_) < size && !AddChunk(size))
        return nullptr;
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

std::uint64_t XmlArena::BytesReserved() const {
    // of the current mapped chunk only what was handed out so far: the rest is not even touched yet
    if (chunks_ != nullptr && chunks_->mapped)
        return reserved_ + static_cast<std::uint64_t>(cursor_ - reinterpret_cast<char*>(chunks_));
    return reserved_;
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
