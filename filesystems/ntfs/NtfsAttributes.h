#pragma once
// Attributes of a FILE record: the walk, the checks, the header accessors and the views of
// $FILE_NAME and $STANDARD_INFORMATION.
#include "filesystems/ntfs/NtfsCommon.h"
#include "storage/ByteSpan.h"

#include <cstddef>
#include <cstdint>

class NtfsAttributeView;
class NtfsAttributeIndex;

// Attribute walk. FindAttribute returns the n-th (from 0) valid attribute of `type`, or an empty
// view; the walk stops at the end marker, at a length of 0 and at any attribute that runs past
// `len`.
NtfsAttributeView FindAttribute(const std::uint8_t* rec, std::size_t len, std::uint32_t type,
                                int n);
int CountAttributes(const std::uint8_t* rec, std::size_t len, std::uint32_t type);

// The check every attribute the walk hands out has passed: the header fits, a resident value
// lies inside the attribute, non-resident mapping pairs start inside it.
bool ValidateAttribute(const std::uint8_t* attr, std::size_t bytesLeft);
// The Win32 character test: none of " * / : < > ? \ | before the first NUL.
bool IsValidNtfsName(const void* utf16le, std::size_t units);
// By namespace: a POSIX name is refused only for '/' or NUL; Win32 and DOS names take the
// Win32 test above.
bool IsValidNtfsName(const void* utf16le, std::size_t units, std::uint8_t nameSpace);
bool HasIndexAllocation(const std::uint8_t* rec, std::size_t len);

// One attribute of a FILE record as the validating walk found it: a span of exactly the
// attribute's length, whose header passed ValidateAttribute. Only the check makes one (through
// Validate, FindAttribute, or the attribute index the record check fills), so every field below
// lies inside the span; an empty view stands for "no such attribute".
class NtfsAttributeView {
public:
    NtfsAttributeView() = default;
    // The attribute at `attr` (`bytesLeft` bytes to the end of its record) when it passes
    // ValidateAttribute, else an empty view.
    static NtfsAttributeView Validate(const std::uint8_t* attr, std::size_t bytesLeft);
    explicit operator bool() const { return !m_bytes.empty(); }

    // The whole attribute, header included.
    const ByteSpan& Bytes() const { return m_bytes; }
    const std::uint8_t* Data() const { return m_bytes.data(); }

    std::uint32_t Type() const { return m_bytes.u32(0); }
    std::uint32_t Length() const { return static_cast<std::uint32_t>(m_bytes.size()); }
    bool NonResident() const { return m_bytes.u8(8) != 0; }
    std::uint8_t NameLength() const { return m_bytes.u8(9); }
    std::uint16_t Flags() const { return m_bytes.u16(0x0C); }

    // Resident attributes: the value's length and offset, and the value itself (empty for a
    // non-resident attribute).
    std::uint32_t ValueLength() const { return m_bytes.u32(0x10); }
    std::uint16_t ValueOffset() const { return m_bytes.u16(0x14); }
    ByteSpan Value() const {
        return NonResident() ? ByteSpan() : m_bytes.sub(ValueOffset(), ValueLength());
    }

    // Non-resident attributes.
    std::uint64_t LowestVcn() const { return m_bytes.u64(0x10); }
    std::uint64_t HighestVcn() const { return m_bytes.u64(0x18); }
    std::uint16_t PairsOffset() const { return m_bytes.u16(0x20); }
    // The mapping pairs, from their offset to the end of the attribute.
    ByteSpan MappingPairs() const { return m_bytes.from(PairsOffset()); }
    std::uint64_t AllocatedSize() const { return m_bytes.u64(0x28); }
    std::uint64_t DataSize() const { return m_bytes.u64(0x30); }
    std::uint64_t InitializedSize() const { return m_bytes.u64(0x38); }

private:
    explicit NtfsAttributeView(ByteSpan bytes) : m_bytes(bytes) {}
    friend class NtfsAttributeIndex;

    ByteSpan m_bytes;
};

// $FILE_NAME value fields; false when the attribute is not a resident $FILE_NAME whose value
// holds its name. `name` points into the attribute (nameLength UTF-16 units).
struct NtfsFileNameView {
    std::uint64_t parent = 0;       // low 48 bits of the parent reference
    std::uint64_t creationTime = 0;
    std::uint64_t realSize = 0;
    std::uint32_t flags = 0;
    std::uint8_t nameLength = 0;    // UTF-16 units
    std::uint8_t nameSpace = 0;     // 0 POSIX, 1 Win32, 2 DOS, 3 Win32&DOS (above 4 read as 4)
    const std::uint8_t* name = nullptr;
};
bool ReadFileNameAttr(const NtfsAttributeView& attr, NtfsFileNameView& out);

// $STANDARD_INFORMATION fields; false when the attribute is too short to hold them.
struct NtfsStdInfoView {
    std::uint64_t creationTime = 0;
    std::uint64_t lastWriteTime = 0;
    std::uint64_t lastAccessTime = 0;
    std::uint32_t fileAttributes = 0;
};
bool ReadStdInfoAttr(const NtfsAttributeView& attr, NtfsStdInfoView& out);

// A file's data is its unnamed $DATA attributes; a named one is another stream of the file.
// Calls `visit` with each unnamed one that `find(kNtfsAttrData, i)` yields for i = 0, 1, ...
// (an NtfsAttributeView, or a reference that holds one as `attr`), in order, until `find`
// yields none or `visit` returns false.
template <typename Find, typename Visit> void ForEachFileDataAttribute(Find&& find, Visit&& visit) {
    for (int i = 0;; ++i) {
        const auto found = find(kNtfsAttrData, i);
        const NtfsAttributeView* attr;
        if constexpr (requires { found.attr; })
            attr = &found.attr;
        else
            attr = &found;
        if (!*attr)
            return;
        if (attr->NameLength() == 0 && !visit(found))
            return;
    }
}
