#include "filesystems/ntfs/NtfsIndexBuffers.h"

#include "filesystems/ntfs/NtfsAttributes.h"
#include "filesystems/ntfs/NtfsFileRecord.h"
#include "storage/ByteSpan.h"

#include <cstring>

namespace {

// Walks the index entries of an index node whose entries start at `begin` and end at `end`
// (offsets into `node`). Calls fn(entryOffset, flags) for each entry before the last one;
// fn returns false to stop. False when an entry does not fit.
template <typename Fn>
bool WalkIndexEntries(const ByteSpan& node, std::size_t begin, std::size_t end, Fn fn) {
    std::size_t off = begin;
    for (int guard = 0; guard < 4096 && off + 16 <= end; ++guard) {
        const std::uint16_t elen = node.u16(off + 8);
        const std::uint16_t flags = node.u16(off + 12);
        if (elen == 0 || (flags & 0x02))
            return true;
        if (elen < 16 || !node.has(off, elen) || off + elen > end)
            return false;
        if (!fn(off, flags, elen))
            return true;
        off += elen;
    }
    return true;
}

// An entry with a $FILE_NAME key: the name is not empty and its allocated size is not below
// its data size.
bool EntryNameSane(const ByteSpan& node, std::size_t off, std::uint16_t elen) {
    const std::uint16_t keyLen = node.u16(off + 10);
    if (keyLen < 0x42 || 16u + keyLen > elen)
        return false;
    const std::uint8_t units = node.u8(off + 16 + 0x40);
    if (units == 0 || 0x42u + 2u * units > keyLen)
        return false;
    return node.u64(off + 56) >= node.u64(off + 64);
}

} // namespace

bool CheckIndexBuffer(const std::uint8_t* block, std::size_t len) {
    if (!block || len < kNtfsIndexBlockBytes || std::memcmp(block, "INDX", 4) != 0)
        return false;
    std::uint8_t copy[kNtfsIndexBlockBytes];
    std::memcpy(copy, block, sizeof copy);
    ByteSpan s(copy, sizeof copy);
    const std::uint32_t entriesOffset = s.u32(24), used = s.u32(28), allocated = s.u32(32);
    const std::uint32_t usaOffset = s.u16(4), usaCount = s.u16(6);
    if (allocated > len || used > allocated || usaCount > 16 || usaOffset < 40 || usaOffset > 256)
        return false;
    if (usaCount == 0 || (usaCount - 1) * kSectorSize > sizeof copy ||
        usaCount != (std::uint64_t{allocated} + entriesOffset) / kSectorSize + 1)
        return false;
    if (!ApplyFixups(copy, sizeof copy))
        return false;
    const std::uint64_t begin = 24ull + entriesOffset, end = 24ull + used;
    if (begin >= sizeof copy || end > sizeof copy || begin >= end)
        return false;
    bool ok = true;
    bool first = true;
    std::uint64_t parent = 0;
    const bool fits = WalkIndexEntries(
        s, begin, end, [&](std::size_t off, std::uint16_t flags, std::uint16_t elen) {
            if (first) {
                if (!s.has(off + 16, 8)) {
                    ok = false;
                    return false;
                }
                parent = s.u64(off + 16);
            }
            if (flags != 0x01) {
                if (!EntryNameSane(s, off, elen) || s.u64(off + 16) != parent) {
                    ok = false;
                    return false;
                }
            }
            first = false;
            return true;
        });
    return fits && ok && !first;
}

bool ReadIndexBlockHeader(const std::uint8_t* block, std::size_t len, NtfsIndexBlockHeader& out) {
    if (!block || len < kNtfsIndexBlockBytes)
        return false;
    std::uint8_t copy[kNtfsIndexBlockBytes];
    std::memcpy(copy, block, sizeof copy);
    ApplyFixups(copy, sizeof copy);
    const ByteSpan s(copy, sizeof copy);
    out.lsn = s.u64(8);
    out.vcn = s.u64(16);
    const std::uint64_t firstEntry = 24ull + s.u32(24);
    out.parent = s.u32(static_cast<std::size_t>(firstEntry) + 16);
    return s.ok();
}

std::int64_t GetIndexNodeParent(const NtfsAttributeView& attr) {
    if (!attr || attr.NonResident())
        return -1;
    const ByteSpan value = attr.Value();
    // Index root header (16 bytes), then the node header.
    const std::uint32_t entriesOffset = value.u32(16), total = value.u32(20);
    if (!value.ok() || std::uint64_t{total} + 16 > value.size())
        return -1;
    const std::uint64_t begin = 16ull + entriesOffset, end = 16ull + total;
    if (begin >= end)
        return -1;
    std::int64_t result = -1;
    bool other = false;
    WalkIndexEntries(value, begin, end,
                     [&](std::size_t off, std::uint16_t flags, std::uint16_t elen) {
                         if (flags != 0x01 && !EntryNameSane(value, off, elen))
                             return false;
                         if (!value.has(off + 16, 8))
                             return false;
                         const std::int64_t parent =
                             static_cast<std::int64_t>(NtfsRecordNumber(value.u64(off + 16)));
                         if (result == -1)
                             result = parent;
                         else if (parent != result) {
                             other = true;
                             return false;
                         }
                         return true;
                     });
    return other ? -1 : result;
}
