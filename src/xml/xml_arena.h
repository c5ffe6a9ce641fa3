#pragma once

// Internal to the XML library. Block allocator behind one XML tree. Records, arrays and owned copies come
// from large chunks; released blocks go to free lists by size class and are handed out again, and everything
// is returned to the system at once when the arena is destroyed. An arena takes at most its budget from the
// system: past it every allocation fails and Exhausted() says so. Not thread-safe, like the tree itself.
// Under AddressSanitizer released blocks are poisoned, so a handle used after its node was removed is caught.

#include <cstddef>
#include <cstdint>

#if defined(__SANITIZE_ADDRESS__)
#define VANTREL_XML_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VANTREL_XML_ASAN 1
#endif
#endif
#if defined(VANTREL_XML_ASAN)
#include <sanitizer/asan_interface.h>
#endif

namespace vantrel {

class XmlArena {
public:
    explicit XmlArena(std::uint64_t budget = UINT64_MAX);
    ~XmlArena();
    XmlArena(const XmlArena&) = delete;
    XmlArena& operator=(const XmlArena&) = delete;

    // The usable size of a block requested with this size (what Allocate really reserves).
    static std::size_t RoundUp(std::size_t size);

    // A block of at least size bytes, 8-byte aligned; null when out of memory.
    void* Allocate(std::size_t size) {
        // fast path for records and short arrays: a reused block or the next bytes of the chunk
        if (size - 1 < kSmallLimit) {
            std::size_t rounded = (size + kSmallStep - 1) & ~(kSmallStep - 1);
            FreeBlock*& list = free_[rounded / kSmallStep - 1];
            if (FreeBlock* block = list) {
                Unpoison(block, rounded);
                list = block->next;
                return block;
            }
            if (static_cast<std::size_t>(limit_ - cursor_) >= rounded) {
                void* block = cursor_;
                cursor_ += rounded;
                return block;
            }
        }
        return AllocateSlow(size);
    }
    // Gives back a block from Allocate with the size it was requested with (or its RoundUp); null is fine.
    void Release(void* block, std::size_t size);

    // Records can be written in place at the start of the current chunk's free space and taken afterwards,
    // as long as nothing else is allocated meanwhile. FreeSpace gives that space and its size in bytes;
    // FreshSpace starts a new chunk with at least size free bytes (null when out of memory; the old tail
    // stays unused); TakeSpace takes size bytes of at most kExactLimit (rounded up to 8, as Release rounds) from its
    // start.
    char* FreeSpace(std::size_t* available) const {
        *available = static_cast<std::size_t>(limit_ - cursor_);
        return cursor_;
    }
    // When the current chunk has room the free space grows in place and keeps its start.
    char* FreshSpace(std::size_t size) { return Extend(size) || AddChunk(size) ? cursor_ : nullptr; }
    void TakeSpace(std::size_t size) { cursor_ += (size + kSmallStep - 1) & ~(kSmallStep - 1); }
    // Sizes up to here are kept exactly (in steps of 8) when blocks are given back.
    static constexpr std::size_t kExactLimit = 1024;

    // Makes the arena empty for a new tree with this budget, keeping its chunks to be used again (a document
    // loaded again then faults nothing in); large blocks go back to the system.
    void Recycle(std::uint64_t budget);
    // Gives back the kept chunks that the new tree did not need.
    void TrimUnused();

    // Bytes taken from the system (chunks plus large blocks), less the current chunk's untouched tail.
    std::uint64_t BytesReserved() const { return reserved_ - static_cast<std::uint64_t>(chunkEnd_ - cursor_); }
    // Under AddressSanitizer: marks a block given back as not to be touched, or as usable again.
    static void Poison(void* block, std::size_t size) {
#if defined(VANTREL_XML_ASAN)
        ASAN_POISON_MEMORY_REGION(block, size);
#else
        (void)block;
        (void)size;
#endif
    }
    static void Unpoison(void* block, std::size_t size) {
#if defined(VANTREL_XML_ASAN)
        ASAN_UNPOISON_MEMORY_REGION(block, size);
#else
        (void)block;
        (void)size;
#endif
    }

    // True once an allocation failed: the budget was spent or the system had no memory left.
    bool Exhausted() const {
        return exhausted_;
    }

    // The tree root that owns this arena, if any (destroying that root destroys the arena).
    const void* owner = nullptr;
    // The text the tree was parsed from: attribute spans borrowed from it are 32-bit offsets into it.
    const char* text = nullptr;
    // Tells this arena's tree from every other tree of the process, before and after, even one that reuses its
    // memory: what was learnt of one tree's nodes is never taken for another's.
    std::uint64_t tree = NewTreeNumber();
    static std::uint64_t NewTreeNumber();

    // Owned copies of attribute spans are reached through numbered slots, so that an attribute record holds
    // 32 bits where a pointer would take 64. AdoptCopy gives the slot that now holds copy (kNoSlot when out of
    // memory: the copy is not adopted); ReleaseSlot frees the slot, not the copy.
    static constexpr std::uint32_t kNoSlot = 0xFFFFFFFFu;
    std::uint32_t AdoptCopy(char* copy);
    char* CopyInSlot(std::uint32_t slot) const {
        return slots_[slot];
    }
    void ReleaseSlot(std::uint32_t slot);

private:
    struct Chunk;
    struct LargeBlock;
    struct FreeBlock {
        FreeBlock* next;
    };

    static constexpr std::size_t kChunkHeader = 32;  // a chunk's record, before its first 16-byte aligned block
    static constexpr std::size_t kSmallStep = 8;
    static constexpr std::size_t kSmallLimit = kExactLimit;  // exact classes of 8 bytes up to here
    static constexpr std::size_t kLargeLimit = 64 * 1024;    // above: one system block each
    static constexpr int kClassCount = 128 + 6;              // 8..1024 by 8, then 2K..64K by powers of two

    static int ClassOf(std::size_t roundedSize);
    // Takes size bytes from the system within the budget; null (and Exhausted) when that fails. *taken: the
    // bytes really taken, to be given back.
    // populate: a mapped block is made present at once (else chunks are, a step at a time, by Extend).
    void* TakeFromSystem(std::size_t size, bool* mapped, std::size_t* taken, bool populate);
    void* AllocateSlow(std::size_t size);
    void* AllocateFromChunk(std::size_t size);
    bool AddChunk(std::size_t size);
    // Makes at least size more bytes of the current chunk usable, if it has them.
    bool Extend(std::size_t size);
    Chunk* TakeSpare(std::size_t size);
    void FreeChunk(Chunk* chunk);
    void FreeLargeBlocks();

    Chunk* chunks_ = nullptr;
    Chunk* spare_ = nullptr;  // kept by Recycle, oldest first
    char* cursor_ = nullptr;
    char* limit_ = nullptr;     // end of the part of the current chunk that is made present
    char* chunkEnd_ = nullptr;  // a mapped chunk is made present a step at a time up to here
    std::size_t nextChunkSize_;
    LargeBlock* large_ = nullptr;
    FreeBlock* free_[kClassCount] = {};
    char** slots_ = nullptr;
    std::uint32_t slotCount_ = 0;
    std::uint32_t slotCapacity_ = 0;
    std::uint32_t freeSlot_ = kNoSlot;  // a free slot holds the number of the next one
    std::uint64_t reserved_ = 0;
    std::uint64_t budget_;
    bool exhausted_ = false;
};

// A block of at least size bytes straight from the system (the text of a large file, the chunks of its tree),
// in whole pages; null when out of memory. *mapped receives the size to give back to XmlUnmapBlock. Blocks
// given back go back to the system at once, except the last one up to kXmlKeptBlockBytes, kept so that a
// document loaded again soon (a Save that reloads) faults nothing in.
// populate: make every page present at once, for a block about to be written whole.
void* XmlMapBlock(std::size_t size, std::size_t* mapped, bool populate = true);
// Makes the pages of [from, to) in a mapped block present in one call instead of one fault each.
void XmlPopulate(char* from, char* to);
void XmlUnmapBlock(void* block, std::size_t mapped);
inline constexpr std::size_t kXmlKeptBlockBytes = 4 * 1024 * 1024;

}  // namespace vantrel
