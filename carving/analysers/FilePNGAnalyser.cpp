#include "carving/analysers/FilePNGAnalyser.h"

#include "carving/analysers/RawFileReader.h"

#include <cstring>

namespace {
const std::uint8_t kSignature[8] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
}

int FilePNGAnalyser::MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) {
    if (std::memcmp(sector, kSignature, sizeof(kSignature)) != 0)
        return 0;
    record->m_u32FileType = kTypeId;
    return 1;
}

int FilePNGAnalyser::ComputeFileSize(CRawFileInfo* record, IStorageDevice* device) {
    RawFileReader reader(device, record->m_u64StartSector);
    ByteSpan head = reader.Read(0, 24);
    if (head.empty() || !head.matches(12, "IHDR", 4))
        return 0;
    const std::uint32_t width = head.be32(16), height = head.be32(20);
    if (width == 0 || height == 0 || (width & 0x80000000u) || (height & 0x80000000u))
        return 0;
    std::uint64_t p = std::uint64_t(head.be32(8)) + 20; // the second chunk
    bool imageData = false;
    for (;;) {
        if (p > kLimit)
            return 0;
        ByteSpan chunk = reader.Read(p, 8);
        if (chunk.empty())
            return 0;
        const std::uint32_t n = chunk.be32(0);
        if (n > kLimit) {
            if (!imageData)
                return 0;
            break; // an implausible length after the image data ends the file here
        }
        const bool end = chunk.matches(4, "IEND", 4);
        imageData = imageData || chunk.matches(4, "IDAT", 4);
        p += std::uint64_t(n) + 12;
        if (end)
            break;
    }
    record->m_u64Size = p;
    return 1;
}
