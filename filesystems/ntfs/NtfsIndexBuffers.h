#pragma once
// Index blocks (INDX) and resident index roots as the deep scan checks them.
#include "filesystems/ntfs/NtfsAttributes.h"

#include <cstddef>
#include <cstdint>

// The index block size the deep scan reads (the size volumes are made with).
constexpr std::uint32_t kNtfsIndexBlockBytes = 4096;

// What an index block's header tells about it.
struct NtfsIndexBlockHeader {
    std::uint64_t lsn = 0;
    std::uint64_t vcn = 0;
    std::uint64_t parent = 0; // low 32 bits of the parent of the block's first entry
};

// Index blocks: fix-ups, sizes and entries inside the block; every entry with a name has the
// same parent. `len` bytes are available; the block is left as it was.
bool CheckIndexBuffer(const std::uint8_t* block, std::size_t len);
// The header of a block CheckIndexBuffer accepted (read from a fixed-up copy); false when its
// first entry lies outside the block. The block is left as it was.
bool ReadIndexBlockHeader(const std::uint8_t* block, std::size_t len, NtfsIndexBlockHeader& out);
// The folder named by the entries of a resident $INDEX_ROOT, or -1.
std::int64_t GetIndexNodeParent(const NtfsAttributeView& indexRoot);
