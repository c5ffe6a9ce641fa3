#include "xml_arena.h"

#include <sys/mman.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <utility>

namespace vantrel {

namespace {

constexpr std::size_t kFirstChunkSize = 1024;
// Chunks up to here come from malloc; larger ones are mapped, so that they go back to the system when the
// tree is destroyed instead of staying in the heap.
constexpr std::size_t kMaxHeapChunkSize = 64 * 1024;
// Large enough that a big tree needs few system calls, small enough that the last, partly used chunk costs
// little address space (and no memory: what is not used is never touched).
constexpr std::size_t kMaxChunkSize = 8 * 1024 * 1024;
constexpr std::size_t kPage = 4096;
constexpr std::size_t kHugePage = 2 * 1024 * 1024;
constexpr std::size_t kPopulateStep = 256 * 1024;
#ifdef MADV_POPULATE_WRITE
constexpr int kPopulateWrite = MADV_POPULATE_WRITE;
#else
constexpr int kPopulateWrite = 23;  // Linux 5.14
#endif

std::size_t RoundUpTo(std::size_t size, std::size_t step) {
    return (size + step - 1) / step * step;
}

// The block given back last, kept for reuse; documents may live on several threads.
struct KeptBlock {
    std::mutex mutex;
    void* block = nullptr;
    std::size_t size = 0;
};

KeptBlock& Kept() {
    static KeptBlock* kept = new KeptBlock();  // never destroyed: blocks may be given back during exit
    return *kept;
}

}  // namespace

void XmlPopulate(char* from, char* to) {
    auto start = reinterpret_cast<std::uintptr_t>(from) & ~std::uintptr_t{kPage - 1};
    if (reinterpret_cast<std::uintptr_t>(to) > start)
        ::madvise(reinterpret_cast<void*>(start), reinterpret_cast<std::uintptr_t>(to) - start, kPopulateWrite);
}

void* XmlMapBlock(std::size_t size, std::size_t* mapped, bool populate) {
    *mapped = 0;
    if (size == 0 || size > SIZE_MAX - 2 * kHugePage)
        return nullptr;
    std::size_t length = RoundUpTo(size, kPage);
    {
        // the kept block when it fits without wasting more than it gives
        KeptBlock& kept = Kept();
        std::lock_guard<std::mutex> lock(kept.mutex);
        if (kept.block != nullptr && kept.size >= length && kept.size <= 2 * length) {
            void* block = kept.block;
            *mapped = kept.size;
            kept.block = nullptr;
            kept.size = 0;
            return block;
        }
    }
    // A large block starts on a huge-page boundary: where the system gives huge pages without being asked
    // (transparent huge pages "always") it can then use them; nothing asks for them, so nothing waits for one.
    std::size_t align = length >= kHugePage ? kHugePage : kPage;
    std::size_t span = length + align - kPage;
    void* start = ::mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (start == MAP_FAILED)
        return nullptr;
    auto address = reinterpret_cast<std::uintptr_t>(start);
    std::uintptr_t aligned = RoundUpTo(address, align);
    if (aligned > address)
        ::munmap(start, aligned - address);
    std::size_t tail = span - (aligned - address) - length;
    if (tail > 0)
        ::munmap(reinterpret_cast<void*>(aligned + length), tail);
    // Every byte of the block is about to be written: one call makes its pages present, far cheaper than a
    // page fault for each. Kernels before 5.14 refuse the advice, and the pages then fault in one by one.
    if (populate)
        XmlPopulate(reinterpret_cast<char*>(aligned), reinterpret_cast<char*>(aligned) + length);
    *mapped = length;
    return reinterpret_cast<void*>(aligned);
}

void XmlUnmapBlock(void* block, std::size_t mapped) {
    if (block == nullptr || mapped == 0)
        return;
    XmlArena::Unpoison(block, mapped);
    if (mapped <= kXmlKeptBlockBytes) {
        KeptBlock& kept = Kept();
        std::lock_guard<std::mutex> lock(kept.mutex);
        std::swap(block, kept.block);
        std::swap(mapped, kept.size);
    }
    if (block != nullptr)
        ::munmap(block, mapped);
}

struct XmlArena::Chunk {
    Chunk* next;
    std::size_t size;
    std::size_t present;  // bytes from the chunk's start whose pages are known to be present
    bool mapped;
};

struct XmlArena::LargeBlock {
    LargeBlock* previous;
    LargeBlock* next;
    std::size_t size;
    std::size_t mappedSize;  // 0: from malloc
    bool mapped;
    char padding[15];  // keeps the payload 16-byte aligned
};

XmlArena::XmlArena(std::uint64_t budget) : nextChunkSize_(kFirstChunkSize), budget_(budget) {}

std::uint64_t XmlArena::NewTreeNumber() {
    static std::atomic<std::uint64_t> next{1};
    return next.fetch_add(1, std::memory_order_relaxed);
}

void* XmlArena::TakeFromSystem(std::size_t size, bool* mapped, std::size_t* taken, bool populate) {
    *mapped = false;
    void* block = nullptr;
    *taken = size;
    if (!exhausted_ && size <= budget_ - reserved_ && reserved_ <= budget_) {
        if (size > kMaxHeapChunkSize) {
            block = XmlMapBlock(size, taken, populate);
            *mapped = block != nullptr;
        } else {
            block = std::malloc(size);
        }
    }
    if (block == nullptr) {
        exhausted_ = true;
        return nullptr;
    }
    reserved_ += *taken;
    return block;
}

XmlArena::~XmlArena() {
    while (chunks_ != nullptr) {
        Chunk* next = chunks_->next;
        FreeChunk(chunks_);
        chunks_ = next;
    }
    TrimUnused();
    FreeLargeBlocks();
}

void XmlArena::FreeChunk(Chunk* chunk) {
    if (chunk->mapped) {
        XmlUnmapBlock(chunk, chunk->size);
    } else {
        Unpoison(chunk, chunk->size);
        std::free(chunk);
    }
}

void XmlArena::FreeLargeBlocks() {
    while (large_ != nullptr) {
        LargeBlock* next = large_->next;
        reserved_ -= large_->mappedSize;
        if (large_->mapped) {
            XmlUnmapBlock(large_, large_->mappedSize);
        } else {
            std::free(large_);
        }
        large_ = next;
    }
}

void XmlArena::Recycle(std::uint64_t budget) {
    FreeLargeBlocks();
    // the chunks in the order they were made, so that a tree like the last one takes them as it did
    while (chunks_ != nullptr) {
        Chunk* next = chunks_->next;
        chunks_->next = spare_;
        spare_ = chunks_;
        chunks_ = next;
    }
    cursor_ = limit_ = chunkEnd_ = nullptr;
    for (FreeBlock*& list : free_) list = nullptr;
    text = nullptr;
    tree = NewTreeNumber();
    slots_ = nullptr;
    slotCount_ = slotCapacity_ = 0;
    freeSlot_ = kNoSlot;
    budget_ = budget;
    exhausted_ = false;
    nextChunkSize_ = kFirstChunkSize;
    if (reserved_ > budget_)
        TrimUnused();
}

void XmlArena::TrimUnused() {
    while (spare_ != nullptr) {
        Chunk* next = spare_->next;
        reserved_ -= spare_->size;
        FreeChunk(spare_);
        spare_ = next;
    }
}

XmlArena::Chunk* XmlArena::TakeSpare(std::size_t size) {
    Chunk* chunk = spare_;
    if (chunk == nullptr || chunk->size < size)
        return nullptr;
    spare_ = chunk->next;
    Unpoison(chunk, chunk->size);
    return chunk;
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
    static_assert(sizeof(Chunk) <= kChunkHeader, "a chunk's record fits before its first block");
    std::size_t chunkSize = nextChunkSize_;
    while (chunkSize < size + kChunkHeader) chunkSize *= 2;
    Chunk* chunk = TakeSpare(size + kChunkHeader);
    if (chunk != nullptr) {
        chunkSize = chunk->size;
    } else {
        bool mapped = false;
        chunk = static_cast<Chunk*>(TakeFromSystem(chunkSize, &mapped, &chunkSize, false));
        if (chunk == nullptr)
            return false;
        chunk->size = chunkSize;
        chunk->present = mapped ? 0 : chunkSize;
        chunk->mapped = mapped;
    }
    chunk->next = chunks_;
    chunks_ = chunk;
    cursor_ = reinterpret_cast<char*>(chunk) + kChunkHeader;
    chunkEnd_ = reinterpret_cast<char*>(chunk) + chunkSize;
    // a chunk kept from an earlier tree is present as far as that tree took it
    limit_ = std::max(cursor_, reinterpret_cast<char*>(chunk) + chunk->present);
    if (static_cast<std::size_t>(limit_ - cursor_) < size)
        Extend(size);  // the chunk was made large enough
    if (nextChunkSize_ < kMaxChunkSize)
        nextChunkSize_ *= 2;
    return true;
}

bool XmlArena::Extend(std::size_t size) {
    if (static_cast<std::size_t>(chunkEnd_ - cursor_) < size)
        return false;
    // A step at a time, so that the last chunk of a tree costs only what it uses; large steps keep the calls few.
    auto limit = reinterpret_cast<std::uintptr_t>(limit_);
    std::uintptr_t target = std::max(reinterpret_cast<std::uintptr_t>(cursor_) + size, limit + kPopulateStep);
    target = std::min(RoundUpTo(target, kPage), reinterpret_cast<std::uintptr_t>(chunkEnd_));
    XmlPopulate(limit_, reinterpret_cast<char*>(target));
    limit_ = reinterpret_cast<char*>(target);
    chunks_->present = static_cast<std::size_t>(limit_ - reinterpret_cast<char*>(chunks_));
    return true;
}

void* XmlArena::AllocateFromChunk(std::size_t size) {
    if (static_cast<std::size_t>(limit_ - cursor_) < size && !Extend(size) && !AddChunk(size))
        return nullptr;
    void* block = cursor_;
    cursor_ += size;
    return block;
}

void* XmlArena::AllocateSlow(std::size_t size) {
    std::size_t rounded = RoundUp(size);
    if (rounded > kLargeLimit) {
        bool mapped = false;
        std::size_t taken = 0;
        auto* block = static_cast<LargeBlock*>(TakeFromSystem(sizeof(LargeBlock) + rounded, &mapped, &taken, true));
        if (block == nullptr)
            return nullptr;
        block->mapped = mapped;
        block->mappedSize = taken;
        block->previous = nullptr;
        block->next = large_;
        block->size = rounded;
        if (large_ != nullptr)
            large_->previous = block;
        large_ = block;
        return block + 1;
    }
    int sizeClass = ClassOf(rounded);
    if (FreeBlock* block = free_[sizeClass]) {
        Unpoison(block, rounded);
        free_[sizeClass] = block->next;
        return block;
    }
    return AllocateFromChunk(rounded);
}

std::uint32_t XmlArena::AdoptCopy(char* copy) {
    if (freeSlot_ == kNoSlot) {
        if (slotCount_ == slotCapacity_) {
            if (slotCapacity_ >= kNoSlot / 2)
                return kNoSlot;
            std::uint32_t capacity = slotCapacity_ < 8 ? 8 : slotCapacity_ * 2;
            auto* grown = static_cast<char**>(Allocate(std::size_t{capacity} * sizeof(char*)));
            if (grown == nullptr)
                return kNoSlot;
            if (slotCount_ > 0)
                std::memcpy(grown, slots_, std::size_t{slotCount_} * sizeof(char*));
            Release(slots_, std::size_t{slotCapacity_} * sizeof(char*));
            slots_ = grown;
            slotCapacity_ = capacity;
        }
        // the new slot is the whole free chain
        freeSlot_ = slotCount_;
        slots_[slotCount_++] = reinterpret_cast<char*>(std::uintptr_t{kNoSlot});
    }
    std::uint32_t slot = freeSlot_;
    freeSlot_ = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(slots_[slot]));
    slots_[slot] = copy;
    return slot;
}

void XmlArena::ReleaseSlot(std::uint32_t slot) {
    slots_[slot] = reinterpret_cast<char*>(std::uintptr_t{freeSlot_});
    freeSlot_ = slot;
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
        reserved_ -= large->mappedSize;
        if (large->mapped) {
            XmlUnmapBlock(large, large->mappedSize);
        } else {
            std::free(large);
        }
        return;
    }
    int sizeClass = ClassOf(rounded);
    auto* freeBlock = static_cast<FreeBlock*>(block);
    freeBlock->next = free_[sizeClass];
    free_[sizeClass] = freeBlock;
    Poison(block, rounded);
}

}  // namespace vantrel
