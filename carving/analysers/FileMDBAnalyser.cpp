#include "carving/analysers/FileMDBAnalyser.h"

#include "carving/analysers/RawFileReader.h"
#include "filesystems/FileProperties.h"

namespace {
const std::uint8_t kMagic[20] = {0x00, 0x01, 0x00, 0x00, 'S', 't', 'a', 'n', 'd', 'a',
                                 'r',  'd',  ' ',  'J',  'e', 't', ' ', 'D', 'B', 0x00};
constexpr std::size_t kVersionOffset = 20;
} // namespace

int FileMDBAnalyser::MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) {
    if (!ByteSpan(sector, kSectorSize).matches(0, kMagic, sizeof(kMagic)))
        return 0;
    record->m_u32FileType = kTypeId;
    return 1;
}

int FileMDBAnalyser::ComputeFileSize(CRawFileInfo* record, IStorageDevice* device) {
    RawFileReader reader(device, record->m_u64StartSector);
    ByteSpan head = reader.Read(0, kVersionOffset + 1);
    if (head.empty())
        return 0;
    const std::uint64_t page = head.u8(kVersionOffset) == 0 ? 2048 : 4096;
    const std::uint64_t cap = GetScanOptions().MaxRawFileSize;
    std::uint64_t x = page;
    for (;;) {
        if (x > cap) {
            record->m_bScannedToLimit = true;
            break;
        }
        ByteSpan p = reader.Read(x, 1);
        if (p.empty()) {
            if (reader.IsWindow())
                return 0; // the file may go on outside the search's window
            break;
        }
        if (p.i8(0) > 5)
            break;
        x += page;
        if (x >= kLongestWalk)
            break;
    }
    record->m_u64Size = x;
    return 1;
}
