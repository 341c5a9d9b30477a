#include "filesystems/ntfs/NtfsBootSector.h"

#include "filesystems/ntfs/NtfsInternal.h"
#include "storage/ByteSpan.h"

#include <cstring>

using ntfs_detail::IsPowerOfTwoUpTo128;

bool IsNtfsOemId(const void* sector512) {
    const auto* s = static_cast<const std::uint8_t*>(sector512);
    static const char kOem[] = "NTFS    ";
    for (int i = 0; i < 8; ++i) {
        std::uint8_t c = s[3 + i];
        if (c >= 'a' && c <= 'z')
            c = static_cast<std::uint8_t>(c - 'a' + 'A');
        if (c != static_cast<std::uint8_t>(kOem[i]))
            return false;
    }
    return true;
}

bool IsNTFSBootSector(const void* sector512) {
    if (!sector512 || !IsNtfsOemId(sector512))
        return false;
    const ByteSpan s(sector512, kSectorSize);
    if (s.u16(0x0B) != 512 || s.u16(0x0E) != 0 || !IsPowerOfTwoUpTo128(s.u8(0x0D)))
        return false;
    // Fields NTFS keeps at zero: FAT-era counts at 0x10-0x14 and 0x16, and 0x20.
    if (s.u32(0x10) != 0 || s.u8(0x14) != 0 || s.u16(0x16) != 0 || s.u32(0x20) != 0)
        return false;
    return s.u16(0x1FE) == 0xAA55;
}

bool CNTFSDBR::SetData(const void* sector512) {
    if (!IsNTFSBootSector(sector512))
        return false;
    std::memcpy(m_data, sector512, sizeof m_data);
    return true;
}

void CNTFSDBR::Clear() { std::memset(m_data, 0, sizeof m_data); }

std::uint32_t CNTFSDBR::GetFileRecordSize() const {
    auto c = static_cast<std::int8_t>(m_data[0x40]);
    if (c < 0)
        return -c <= 31 ? (std::uint32_t{1} << -c) : 0;
    if (c > 0)
        return static_cast<std::uint32_t>(c) * GetSectorsPerCluster() * GetBytesPerSector();
    return 1024;
}

bool CNTFSDBR::HasSupportedGeometry() const {
    return GetBytesPerSector() == kSectorSize && IsPowerOfTwoUpTo128(GetSectorsPerCluster()) &&
           GetFileRecordSize() == kNtfsRecordSize;
}
