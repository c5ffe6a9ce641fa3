#pragma once

// Internal to the XML library. Block allocator behind one XML tree. Records, arrays and owned copies come
// from large chunks; released blocks go to free lists by size class and are handed out again, and everything
// is returned to the system at once when the arena is destroyed. Not thread-safe, like the tree itself.

#include <cstddef>
#include <cstdint>

namespace vantrel {

class XmlArena {
public:
    // expectedBytes: what the tree is likely to need (0: unknown, start small). A large expectation is
    // served from one block of mapped memory that is only touched as it is used.
    explicit XmlArena(std::uint64_t expectedBytes = 0);
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
    // stays unused); TakeSpace takes size bytes, a multiple of 8 of at most kExactLimit, from its start.
    char* FreeSpace(std::size_t* available) const {
        *available = static_cast<std::size_t>(limit_ - cursor_);
        return cursor_;
    }
    char* FreshSpace(std::size_t size) { return AddChunk(size) ? cursor_ : nullptr; }
    void TakeSpace(std::size_t size) { cursor_ += size; }
    // Sizes up to here are kept exactly (in steps of 8) when blocks are given back.
    static constexpr std::size_t kExactLimit = 1024;

    // Bytes taken from the system: chunks plus large blocks (of a mapped chunk, the part in use).
    std::uint64_t BytesReserved() const;

    // The tree root that owns this arena, if any (destroying that root destroys the arena).
    const void* owner = nullptr;

private:
    struct Chunk;
    struct LargeBlock;
    struct FreeBlock {
        FreeBlock* next;
    };

    static constexpr std::size_t kSmallStep = 8;
    static constexpr std::size_t kSmallLimit = kExactLimit;  // exact classes of 8 bytes up to here
    static constexpr std::size_t kLargeLimit = 64 * 1024;    // above: one system block each
    static constexpr int kClassCount = 128 + 6;              // 8..1024 by 8, then 2K..64K by powers of two

    static int ClassOf(std::size_t roundedSize);
    void* AllocateSlow(std::size_t size);
    void* AllocateFromChunk(std::size_t size);
    bool AddChunk(std::size_t size);

    Chunk* chunks_ = nullptr;
    char* cursor_ = nullptr;
    char* limit_ = nullptr;
    std::size_t nextChunkSize_;
    bool mapChunks_ = false;  // chunks come from XmlMapBlock instead of malloc
    LargeBlock* large_ = nullptr;
    FreeBlock* free_[kClassCount] = {};
    std::uint64_t reserved_ = 0;
};

// A block of at least size bytes straight from the system, laid out for huge pages where the system offers
// them (the text of a large file, the chunks of its tree); null when out of memory. *mapped receives the
// size to give back to XmlUnmapBlock. Only the whole huge pages within the first hugeBytes are asked for as
// such: a block known to be filled to its size need not pay for a huge page it only begins. The bytes are
// not necessarily zero: the last blocks given back (up to kXmlKeptBlockBytes together) are kept for the
// next documents, as a heap keeps freed memory, so that loading a file again faults nothing in.
void* XmlMapBlock(std::size_t size, std::size_t* mapped, std::size_t hugeBytes = SIZE_MAX);
void XmlUnmapBlock(void* block, std::size_t mapped);
inline constexpr std::size_t kXmlKeptBlockBytes = 32 * 1024 * 1024;

}  // namespace vantrel
