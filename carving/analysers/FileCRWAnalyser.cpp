#include "carving/analysers/FileCRWAnalyser.h"

#include "carving/analysers/RawFileReader.h"

#include <algorithm>
#include <cstring>

namespace {
const std::uint8_t kSignature[16] = {0x49, 0x49, 0x1A, 0x00, 0x00, 0x00, 'H', 'E',
                                     'A',  'P',  'C',  'C',  'D',  'R',  0x02, 0x00};
const char kDescription[] = "High definition CCD image";
const char kKind[] = "CRW:High definition CCD image";
constexpr std::size_t kRecordBytes = 144; // what the camera record test looks at

bool CameraRecord(const std::uint8_t* p) {
    return std::memcmp(p, kDescription, sizeof(kDescription) - 1) == 0 &&
           std::memcmp(p + 32, kKind, sizeof(kKind) - 1) == 0 &&
           std::memcmp(p + 122, "Canon", 5) == 0 && std::memcmp(p + 128, "Canon PowerShot", 15) == 0;
}
} // namespace

int FileCRWAnalyser::MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) {
    if (std::memcmp(sector, kSignature, sizeof(kSignature)) != 0)
        return 0;
    record->m_u32FileType = kTypeId;
    return 1;
}

// The file is taken to end in the sector that holds the camera description record.
int FileCRWAnalyser::ComputeFileSize(CRawFileInfo* record, IStorageDevice* device) {
    RawFileReader reader(device, record->m_u64StartSector);
    const std::size_t needle = sizeof(kDescription) - 1;
    std::uint64_t x = 16;
    while (x <= kLimit) {
        ByteSpan s = reader.Read(x);
        if (s.size() < kRecordBytes)
            return 0; // the record cannot be read here
        // Positions whose whole record lies in the bytes at hand.
        const std::uint64_t usable =
            std::min<std::uint64_t>(s.size() - kRecordBytes + 1, kLimit - x + 1);
        const std::uint8_t* d = s.data();
        std::uint64_t i = 0;
        while (i < usable) {
            const void* hit = memmem(d + i, static_cast<std::size_t>(usable - i) + needle - 1,
                                     kDescription, needle);
            if (!hit)
                break;
            i = static_cast<std::uint64_t>(static_cast<const std::uint8_t*>(hit) - d);
            if (CameraRecord(d + i)) {
                const std::uint64_t at = x + i;
                std::uint64_t sectors = (at + kSectorSize - 1) / kSectorSize;
                const std::uint64_t count = device->GetSectorCount();
                const std::uint64_t start = record->m_u64StartSector;
                if (start + sectors > count)
                    sectors = count > start ? count - start : 0;
                record->m_u64Size = sectors * kSectorSize;
                return 1;
            }
            ++i;
        }
        x += usable;
    }
    record->m_u64Size = kLimit;
    return 1;
}
