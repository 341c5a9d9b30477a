#include "carving/partition/FoundPartitionInfo.h"

#include <cstring>

FoundPartitionInfo FoundPartitionInfo::TakeCopy() const {
    FoundPartitionInfo copy;
    copy.u64FirstSector = u64FirstSector;
    copy.u64SectorCount = u64SectorCount;
    copy.fileSystemType = fileSystemType;
    std::memcpy(copy.szVolumeLabel, szVolumeLabel, sizeof szVolumeLabel);
    copy.szVolumeLabel[sizeof copy.szVolumeLabel - 1] = 0;
    copy.pDevice = std::move(pDevice);
    copy.u32Reserved = u32Reserved;
    return copy;
}

void FoundPartitionInfo::Clear() {
    u64FirstSector = 0;
    u64SectorCount = 0;
    fileSystemType = FILESYSTEM_UNKNOWN;
    std::memset(szVolumeLabel, 0, sizeof szVolumeLabel);
    pDevice.reset();
    u32Reserved = 0;
}

void FoundPartitionInfo::SetLabel(const char* text) {
    std::memset(szVolumeLabel, 0, sizeof szVolumeLabel);
    if (!text)
        return;
    std::size_t n = ::strnlen(text, sizeof szVolumeLabel - 1);
    // Never cut a UTF-8 character in half.
    if (text[n] != 0)
        while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80)
            --n;
    std::memcpy(szVolumeLabel, text, n);
}
