#pragma once
// The NTFS boot sector: recognising one and reading its geometry (bytes only).
#include "filesystems/ntfs/NtfsCommon.h"
#include "storage/ByteSpan.h"

#include <cstddef>
#include <cstdint>

bool IsNtfsOemId(const void* sector512);
bool IsNTFSBootSector(const void* sector512);

class CNTFSDBR {
public:
    CNTFSDBR() { Clear(); }
    // Copies the sector in when IsNTFSBootSector accepts it.
    bool SetData(const void* sector512);
    void Clear();
    const std::uint8_t* Data() const { return m_data; }

    std::uint16_t GetBytesPerSector() const { return Bytes().u16(0x0B); }
    std::uint8_t GetSectorsPerCluster() const { return m_data[0x0D]; }
    std::uint64_t GetTotalSectors() const { return Bytes().u64(0x28); }
    std::uint64_t GetMftCluster() const { return Bytes().u64(0x30); }
    std::uint64_t GetMftMirrorCluster() const { return Bytes().u64(0x38); }
    std::uint64_t GetSerialNumber() const { return Bytes().u64(0x48); }
    // Bytes of one FILE record as the boot sector gives it (0 when the field is out of range).
    std::uint32_t GetFileRecordSize() const;
    // True when the record size is the one this reader handles and the cluster size is sane.
    bool HasSupportedGeometry() const;

private:
    ByteSpan Bytes() const { return ByteSpan(m_data, sizeof m_data); }

    std::uint8_t m_data[512];
};
