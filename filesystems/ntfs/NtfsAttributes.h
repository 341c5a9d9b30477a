#pragma once
// Attributes of a FILE record: the walk, the checks, the header accessors and the views of
// $FILE_NAME and $STANDARD_INFORMATION.
#include "filesystems/ntfs/NtfsCommon.h"

#include <cstddef>
#include <cstdint>

// Attribute walk. FindAttribute returns the n-th (from 0) attribute of `type` or null; the walk
// stops at the end marker, at a length of 0 and at any attribute that runs past `len`.
const std::uint8_t* FindAttribute(const std::uint8_t* rec, std::size_t len, std::uint32_t type,
                                  int n);
int CountAttributes(const std::uint8_t* rec, std::size_t len, std::uint32_t type);

bool ValidateAttribute(const std::uint8_t* attr, std::size_t bytesLeft);
// The Win32 character test: none of " * / : < > ? \ | before the first NUL.
bool IsValidNtfsName(const void* utf16le, std::size_t units);
// By namespace: a POSIX name is refused only for '/' or NUL; Win32 and DOS names take the
// Win32 test above.
bool IsValidNtfsName(const void* utf16le, std::size_t units, std::uint8_t nameSpace);
bool HasIndexAllocation(const std::uint8_t* rec, std::size_t len);

// Attribute header accessors (the attribute must have passed ValidateAttribute).
inline std::uint32_t AttrType(const std::uint8_t* a) { return NtfsRd32(a); }
inline std::uint32_t AttrLength(const std::uint8_t* a) { return NtfsRd32(a + 4); }
inline bool AttrNonResident(const std::uint8_t* a) { return a[8] != 0; }
inline std::uint8_t AttrNameLength(const std::uint8_t* a) { return a[9]; }
inline std::uint16_t AttrFlags(const std::uint8_t* a) { return NtfsRd16(a + 0x0C); }
inline std::uint32_t AttrValueLength(const std::uint8_t* a) { return NtfsRd32(a + 0x10); }
inline std::uint16_t AttrValueOffset(const std::uint8_t* a) { return NtfsRd16(a + 0x14); }
inline const std::uint8_t* AttrValue(const std::uint8_t* a) { return a + AttrValueOffset(a); }
inline std::uint64_t AttrLowestVcn(const std::uint8_t* a) { return NtfsRd64(a + 0x10); }
inline std::uint64_t AttrHighestVcn(const std::uint8_t* a) { return NtfsRd64(a + 0x18); }
inline std::uint16_t AttrPairsOffset(const std::uint8_t* a) { return NtfsRd16(a + 0x20); }
inline std::uint64_t AttrAllocatedSize(const std::uint8_t* a) { return NtfsRd64(a + 0x28); }
inline std::uint64_t AttrDataSize(const std::uint8_t* a) { return NtfsRd64(a + 0x30); }
inline std::uint64_t AttrInitializedSize(const std::uint8_t* a) { return NtfsRd64(a + 0x38); }

// $FILE_NAME value fields (resident attribute that passed ValidateAttribute).
struct NtfsFileNameView {
    std::uint64_t parent = 0;       // low 48 bits of the parent reference
    std::uint64_t creationTime = 0;
    std::uint64_t realSize = 0;
    std::uint32_t flags = 0;
    std::uint8_t nameLength = 0;    // UTF-16 units
    std::uint8_t nameSpace = 0;     // 0 POSIX, 1 Win32, 2 DOS, 3 Win32&DOS (above 4 read as 4)
    const std::uint8_t* name = nullptr;
};
bool ReadFileNameAttr(const std::uint8_t* attr, NtfsFileNameView& out);

// $STANDARD_INFORMATION fields; false when the attribute is too short to hold them.
struct NtfsStdInfoView {
    std::uint64_t creationTime = 0;
    std::uint64_t lastWriteTime = 0;
    std::uint64_t lastAccessTime = 0;
    std::uint32_t fileAttributes = 0;
};
bool ReadStdInfoAttr(const std::uint8_t* attr, NtfsStdInfoView& out);
