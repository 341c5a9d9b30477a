#include "filesystems/ntfs/NtfsAttributes.h"

#include "filesystems/ntfs/NtfsFileRecord.h"
#include "filesystems/ntfs/NtfsRuns.h"
#include "storage/ByteSpan.h"

#include <algorithm>

namespace {
// Calls fn(attr, bytesLeft) for each attribute until the end marker, a 0 length, an attribute
// running past `len`, or fn returning false.
template <typename Fn>
void WalkAttributes(const std::uint8_t* rec, std::size_t len, Fn fn) {
    const ByteSpan r(rec, len);
    if (len < 0x18)
        return;
    std::size_t off = r.u16(0x14);
    while (off < len - 8) {
        const std::uint32_t type = r.u32(off);
        if (type == kNtfsAttrEnd)
            return;
        const std::uint32_t alen = r.u32(off + 4);
        if (alen == 0 || alen > len - off)
            return;
        if (!fn(rec + off, len - off))
            return;
        off += alen;
    }
}
} // namespace

NtfsAttributeView FindAttribute(const std::uint8_t* rec, std::size_t len, std::uint32_t type,
                                int n) {
    NtfsAttributeView found;
    WalkAttributes(rec, len, [&](const std::uint8_t* a, std::size_t left) {
        if (ByteSpan(a, left).u32(0) != type)
            return true;
        NtfsAttributeView view = NtfsAttributeView::Validate(a, left);
        if (view && n-- == 0) {
            found = view;
            return false;
        }
        return true;
    });
    return found;
}

int CountAttributes(const std::uint8_t* rec, std::size_t len, std::uint32_t type) {
    int count = 0;
    WalkAttributes(rec, len, [&](const std::uint8_t* a, std::size_t left) {
        if (ByteSpan(a, left).u32(0) == type && ValidateAttribute(a, left))
            ++count;
        return true;
    });
    return count;
}

bool ValidateAttribute(const std::uint8_t* attr, std::size_t bytesLeft) {
    if (!attr || bytesLeft <= 15)
        return false;
    const ByteSpan a(attr, bytesLeft);
    const std::uint32_t alen = a.u32(4);
    if (alen > bytesLeft)
        return false;
    const ByteSpan whole = a.sub(0, alen);
    const std::uint32_t type = whole.u32(0);
    if (whole.u8(8) != 0) {
        if (alen < 0x40)
            return false;
        const std::uint32_t po = whole.u16(0x20);
        if (po > alen)
            return false;
        if (type == kNtfsAttrData && !ValidateMappingPairs(attr + po, alen - po))
            return false;
        return type != kNtfsAttrFileName; // names are always resident
    }
    if (alen < 0x18)
        return false;
    const std::uint64_t vo = whole.u16(0x14), vl = whole.u32(0x10);
    if (vo + vl > alen)
        return false;
    if (type == kNtfsAttrFileName) {
        if (vl < 0x42)
            return false;
        const std::uint8_t units = whole.u8(vo + 0x40);
        if (0x42u + 2u * units > vl)
            return false;
    }
    return whole.ok();
}

NtfsAttributeView NtfsAttributeView::Validate(const std::uint8_t* attr, std::size_t bytesLeft) {
    if (!ValidateAttribute(attr, bytesLeft))
        return NtfsAttributeView();
    const ByteSpan left(attr, bytesLeft);
    return NtfsAttributeView(left.sub(0, left.u32(4)));
}

bool IsValidNtfsName(const void* utf16le, std::size_t units) {
    const ByteSpan name(utf16le, 2 * units);
    for (std::size_t i = 0; i < units; ++i) {
        const std::uint16_t c = name.u16(2 * i);
        if (c == 0)
            break;
        switch (c) {
        case '"': case '*': case '/': case ':': case '<': case '>': case '?': case '\\': case '|':
            return false;
        default:
            break;
        }
    }
    return true;
}

bool IsValidNtfsName(const void* utf16le, std::size_t units, std::uint8_t nameSpace) {
    if (nameSpace != kNtfsNamespacePosix)
        return IsValidNtfsName(utf16le, units);
    // A POSIX name (what Linux writes) may hold anything but the separator and NUL.
    const ByteSpan name(utf16le, 2 * units);
    for (std::size_t i = 0; i < units; ++i) {
        const std::uint16_t c = name.u16(2 * i);
        if (c == 0 || c == '/')
            return false;
    }
    return true;
}

bool HasIndexAllocation(const std::uint8_t* rec, std::size_t len) {
    if (!rec || len < 0x18 || !(GetRecordFlags(rec, len) & kNtfsRecordDirectory))
        return false;
    const NtfsAttributeView a = FindAttribute(rec, len, kNtfsAttrIndexAllocation, 0);
    return a && a.NonResident();
}

bool ReadFileNameAttr(const NtfsAttributeView& attr, NtfsFileNameView& out) {
    if (!attr || attr.NonResident() || attr.Type() != kNtfsAttrFileName)
        return false;
    const ByteSpan v = attr.Value();
    if (v.size() < 0x42)
        return false;
    const std::uint8_t units = v.u8(0x40);
    if (0x42u + 2u * units > v.size())
        return false;
    out.parent = NtfsRecordNumber(v.u64(0));
    out.creationTime = v.u64(0x08);
    out.realSize = v.u64(0x30);
    out.flags = v.u32(0x38);
    out.nameLength = units;
    out.nameSpace = std::min<std::uint8_t>(v.u8(0x41), 4);
    out.name = v.data() + 0x42;
    return true;
}

bool ReadStdInfoAttr(const NtfsAttributeView& attr, NtfsStdInfoView& out) {
    if (!attr || attr.NonResident() || attr.Type() != kNtfsAttrStandardInformation)
        return false;
    if (attr.Length() < attr.ValueOffset() + 40u || attr.ValueLength() < 0x24)
        return false;
    const ByteSpan v = attr.Value();
    out.creationTime = v.u64(0);
    out.lastWriteTime = v.u64(0x08);
    out.lastAccessTime = v.u64(0x18);
    out.fileAttributes = v.u32(0x20);
    return true;
}
