#include "filesystems/ntfs/NtfsCommon.h"

#include "storage/ByteSpan.h"
#include "storage/TextEncoding.h"

// The caller has bounded the pointer; the span only fixes the width.
std::uint16_t NtfsRd16(const void* p) { return ByteSpan(p, 2).u16(0); }
std::uint32_t NtfsRd32(const void* p) { return ByteSpan(p, 4).u32(0); }
std::uint64_t NtfsRd64(const void* p) { return ByteSpan(p, 8).u64(0); }
void NtfsWr16(void* p, std::uint16_t v) { MutableByteSpan(p, 2).put16(0, v); }

std::string NtfsNameToNarrow(const void* utf16le, std::size_t units) {
    return Utf16LeToUtf8(utf16le, units);
}
