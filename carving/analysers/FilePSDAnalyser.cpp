#include "carving/analysers/FilePSDAnalyser.h"

#include "carving/analysers/RawFileReader.h"
#include "filesystems/FileProperties.h"

#include <algorithm>
#include <cstring>

int FilePSDAnalyser::MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) {
    if (std::memcmp(sector, "8BPS", 4) != 0)
        return 0;
    record->m_u32FileType = kTypeId;
    return 1;
}

int FilePSDAnalyser::ComputeFileSize(CRawFileInfo* record, IStorageDevice* device) {
    RawFileReader reader(device, record->m_u64StartSector);
    const std::uint64_t limit = GetScanOptions().MaxRawFileSize;
    ByteSpan head = reader.Read(0, 30);
    if (head.empty() || head.be16(4) != 1 || head.be16(6) != 0 || head.be32(8) != 0)
        return 0;
    const std::uint64_t channels = head.be16(12), height = head.be32(14), width = head.be32(18),
                        depth = head.be16(22);

    // Colour-mode data, image resources, layer and mask information: each a BE u32 length and
    // that many bytes.
    std::uint64_t j = 26;
    for (int section = 0; section < 3; ++section) {
        if (j > limit)
            return 0;
        ByteSpan length = reader.Read(j, 4);
        if (length.empty())
            return 0;
        j += 4 + std::uint64_t(length.be32(0));
    }
    if (j > limit)
        return 0;
    ByteSpan compression = reader.Read(j, 2);
    if (compression.empty())
        return 0;
    j += 2;

    switch (compression.be16(0)) {
    case 0: { // raw: every row of every channel, each row in whole bytes
        const std::uint64_t rowBytes = (width * depth + 7) / 8; // < 2^49
        const std::uint64_t rows = height * channels;            // < 2^48
        if (rowBytes && rows > (~0ull - j) / rowBytes)
            return 0;
        record->m_u64Size = j + rowBytes * rows;
        return 1;
    }
    case 1: { // PackBits: a table of BE u16 byte counts, one per row of every channel
        const std::uint64_t rows = height * channels;
        std::uint64_t sum = 0, row = 0;
        while (row < rows && j <= limit) {
            ByteSpan s = reader.Read(j);
            if (s.size() < 2)
                return 0;
            const std::uint64_t here =
                std::min({std::uint64_t(s.size() / 2), rows - row, (limit - j) / 2 + 1});
            for (std::uint64_t k = 0; k < here; ++k)
                sum += s.be16(2 * k);
            j += 2 * here;
            row += here;
        }
        record->m_u64Size = j + sum;
        return 1;
    }
    default:
        return 0;
    }
}
