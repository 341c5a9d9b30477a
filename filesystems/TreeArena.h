#pragma once
// Storage for the many small objects of one tree build (nodes, properties, their names and run
// records). A build allocates them one after the other from chunks of a reserved address range,
// with no per-object header and no call into malloc; every object is still freed on its own with
// `delete` (CFileNode and IFileProperties route their deletion here), and a chunk is free once
// the last object in it is gone and its arena has moved on: a few free chunks are kept for the
// next build, the others give their pages back to the system. So a tree freed
// node by node, a node moved into another tree, or a tree that outlives its arena all behave
// exactly as heap objects would.
//
// When the range is used up or cannot be reserved, allocations come from the ordinary heap:
// FreeTreeObject tells the two apart by address.
#include <cstddef>
#include <cstdint>
#include <new>

class CTreeArena {
public:
    CTreeArena() = default;
    CTreeArena(const CTreeArena&) = delete;
    CTreeArena& operator=(const CTreeArena&) = delete;
    // Gives up the chunk in use; the objects already allocated stay valid.
    ~CTreeArena();

    // `bytes` of storage aligned to 8 (enough for every tree object); never null (out of memory ends as operator new does).
    void* Allocate(std::size_t bytes);
    // Copies `n` bytes into new storage (null for n == 0).
    void* Duplicate(const void* bytes, std::size_t n);

    // Bytes of the chunks in use at the moment: holding live objects or allocated from (for
    // tests and benches).
    static std::uint64_t ReservedBytes();
    // Gives the pages of the free chunks kept for the next build back to the system (as
    // malloc_trim does for the heap).
    static void TrimCache();

private:
    std::uint32_t m_chunk = 0;    // chunk in use, 0 for none (chunk 0 is never handed out)
    std::uint32_t m_used = 0;     // bytes of it handed out
};

// Storage of `size` bytes from CTreeArena::Allocate or from ::operator new; either is freed
// correctly. Null is ignored; a size of 0 means "not known" (the bytes are then not poisoned).
void FreeTreeObject(void* p, std::size_t size) noexcept;
// True for storage that came from an arena chunk.
bool IsTreeArenaStorage(const void* p) noexcept;

// Storage for `bytes` from `arena`, or from the heap when `arena` is null.
inline void* AllocateTreeStorage(CTreeArena* arena, std::size_t bytes) {
    return arena ? arena->Allocate(bytes) : ::operator new(bytes);
}

