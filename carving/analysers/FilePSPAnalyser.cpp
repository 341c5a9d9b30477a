#include "carving/analysers/FilePSPAnalyser.h"

#include "carving/analysers/RawFileReader.h"
#include "filesystems/FileProperties.h"

#include <cstring>

namespace {
const std::uint8_t kSignature[32] = {'P', 'a', 'i', 'n', 't', ' ', 'S', 'h', 'o', 'p', ' ',
                                     'P', 'r', 'o', ' ', 'I', 'm', 'a', 'g', 'e', ' ', 'F',
                                     'i', 'l', 'e', 0x0A, 0x1A, 0, 0, 0, 0, 0};
const std::uint8_t kBlock[4] = {'~', 'B', 'K', 0x00};
constexpr std::uint64_t kFirstBlock = 36; // behind the signature and the version words
constexpr std::uint64_t kBlockHead = 10;  // marker, u16 block id, u32 length
} // namespace

int FilePSPAnalyser::MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) {
    if (std::memcmp(sector, kSignature, sizeof(kSignature)) != 0)
        return 0;
    record->m_u32FileType = kTypeId;
    return 1;
}

int FilePSPAnalyser::ComputeFileSize(CRawFileInfo* record, IStorageDevice* device) {
    RawFileReader reader(device, record->m_u64StartSector);
    const std::uint64_t limit = GetScanOptions().MaxRawFileSize;
    ByteSpan block = reader.Read(kFirstBlock, kBlockHead);
    if (block.empty() || !block.matches(0, kBlock, 4))
        return 0; // no block where the first one belongs: no size
    std::uint64_t c = kFirstBlock;
    for (;;) {
        c += block.u32(6) + kBlockHead;
        if (c > limit)
            break;
        block = reader.Read(c, kBlockHead);
        if (block.empty()) {
            // The device ends (or cannot be read) right behind a block: the file ends there. In
            // the RAW search's ring that says nothing, so leave the file to the device.
            if (reader.IsWindow() || !reader.Read(c - 1, 1).size())
                return 0;
            break;
        }
        if (!block.matches(0, kBlock, 4))
            break;
    }
    if (c < 512)
        return 0;
    record->m_u64Size = c;
    return 1;
}
