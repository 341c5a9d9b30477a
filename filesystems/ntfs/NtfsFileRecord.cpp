#include "filesystems/ntfs/NtfsFileRecord.h"

#include "filesystems/ntfs/NtfsAttributes.h"
#include "storage/ByteSpan.h"

#include <cstring>

bool CheckFileRecordHeader(const std::uint8_t* rec, std::size_t len) {
    const ByteSpan r(rec, len);
    if (len < 0x30 || r.u32(0) != 0x454C4946u)
        return false;
    const std::uint32_t usaOffset = r.u16(4);
    const std::uint32_t usaCount = r.u16(6);
    if (usaCount > 16 || (usaCount >= 1 && usaCount - 1 > len / kSectorSize))
        return false;
    if (usaOffset < 42 || usaOffset > 256)
        return false;
    return usaOffset + 2u * usaCount <= len;
}

namespace {
// Fix-up geometry shared by the three fix-up operations; false when it does not fit in `len`.
bool FixupGeometry(const std::uint8_t* rec, std::size_t len, std::uint32_t* usaOffset,
                   std::uint32_t* count) {
    const ByteSpan r(rec, len);
    if (len < 8)
        return false;
    *usaOffset = r.u16(4);
    *count = r.u16(6);
    if (*count <= 1)
        return true;
    return *usaOffset + 2ull * *count <= len && (*count - 1ull) * kSectorSize <= len;
}
} // namespace

bool VerifyFixups(const std::uint8_t* rec, std::size_t len) {
    std::uint32_t off, count;
    if (!FixupGeometry(rec, len, &off, &count))
        return false;
    if (count <= 1)
        return true;
    const ByteSpan r(rec, len);
    const std::uint16_t usn = r.u16(off);
    for (std::uint32_t i = 0; i + 1 < count; ++i)
        if (r.u16((i + 1) * kSectorSize - 2) != usn)
            return false;
    return r.ok();
}

bool ApplyFixups(std::uint8_t* rec, std::size_t len) {
    if (!VerifyFixups(rec, len))
        return false;
    const ByteSpan r(rec, len);
    const std::uint32_t off = r.u16(4), count = r.u16(6);
    for (std::uint32_t i = 0; i + 1 < count; ++i)
        std::memcpy(rec + (i + 1) * kSectorSize - 2, rec + off + 2 * (i + 1), 2);
    return true;
}

void UndoFixups(std::uint8_t* rec, std::size_t len) {
    std::uint32_t off, count;
    if (!FixupGeometry(rec, len, &off, &count) || count <= 1)
        return;
    for (std::uint32_t i = 0; i + 1 < count; ++i) {
        std::uint8_t* end = rec + (i + 1) * kSectorSize - 2;
        std::memcpy(rec + off + 2 * (i + 1), end, 2);
        std::memcpy(end, rec + off, 2);
    }
}

bool NtfsAttributeIndex::Validate(const std::uint8_t* rec, std::size_t len,
                                  NtfsAttributeIndex* index) {
    const ByteSpan r(rec, len);
    if (index) {
        index->m_count = 0;
        index->m_complete = true;
    }
    std::size_t off = r.u16(0x14);
    while (off < len - 8) {
        const std::uint32_t type = r.u32(off);
        if (type == kNtfsAttrEnd)
            break;
        const std::uint32_t alen = r.u32(off + 4);
        if (alen == 0)
            break;
        const NtfsAttributeView view = NtfsAttributeView::Validate(rec + off, len - off);
        NtfsFileNameView fn;
        if (!view || (type == kNtfsAttrFileName &&
                      (!ReadFileNameAttr(view, fn) ||
                       !IsValidNtfsName(fn.name, fn.nameLength, fn.nameSpace)))) {
            if (index)
                index->Clear(); // a record that fails lists nothing
            return false;
        }
        if (index) {
            if (index->m_count < kCapacity) {
                index->m_type[index->m_count] = type;
                index->m_offset[index->m_count] = static_cast<std::uint32_t>(off);
                ++index->m_count;
            } else {
                index->m_complete = false;
            }
        }
        off += alen;
    }
    return true;
}

bool ValidateFileRecord(std::uint8_t* rec, std::size_t len) {
    if (!CheckFileRecordHeader(rec, len))
        return false;
    const bool applied = ApplyFixups(rec, len);
    const bool ok = NtfsAttributeIndex::Validate(rec, len, nullptr);
    if (applied)
        UndoFixups(rec, len);
    return ok;
}

bool ValidateAndFixFileRecord(std::uint8_t* rec, std::size_t len, bool* fixupsApplied, NtfsAttributeIndex* index) {
    if (!CheckFileRecordHeader(rec, len))
        return false;
    const bool applied = ApplyFixups(rec, len);
    if (!NtfsAttributeIndex::Validate(rec, len, index)) {
        if (applied)
            UndoFixups(rec, len);
        return false;
    }
    *fixupsApplied = applied;
    return true;
}

std::uint16_t GetRecordFlags(const std::uint8_t* rec, std::size_t len) {
    return ByteSpan(rec, len).u16(0x16);
}

bool IsExtensionRecord(const std::uint8_t* rec, std::size_t len) {
    const ByteSpan r(rec, len);
    return r.has(0x20, 8) && r.u64(0x20) != 0;
}

std::int64_t GetHeaderRecordNumber(const std::uint8_t* rec, std::size_t len) {
    const ByteSpan r(rec, len);
    if (len < 0x30 || r.u16(4) < 48 || r.u16(0x2A) != 0)
        return -1;
    return r.u32(0x2C);
}
