#pragma once
// Index blocks (INDX) and resident index roots as the deep scan checks them.
#include "filesystems/ntfs/NtfsAttributes.h"

#include <cstddef>
#include <cstdint>

// Index blocks: fix-ups, sizes and entries inside the block; every entry with a name has the
// same parent. `len` bytes are available; the block is left as it was.
bool CheckIndexBuffer(const std::uint8_t* block, std::size_t len);
// The folder named by the entries of a resident $INDEX_ROOT, or -1.
std::int64_t GetIndexNodeParent(const NtfsAttributeView& indexRoot);
