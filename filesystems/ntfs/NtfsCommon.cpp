#include "filesystems/ntfs/NtfsCommon.h"

#include "storage/ByteSpan.h"
#include "storage/TextEncoding.h"

// The caller has bounded the pointer; the span only fixes the width.
void NtfsWr16(void* p, std::uint16_t v) { MutableByteSpan(p, 2).put16(0, v); }

std::string NtfsNameToNarrow(const void* utf16le, std::size_t units) {
    return Utf16LeToUtf8(utf16le, units);
}
