#include "carving/analysers/FileRTFAnalyser.h"

#include "carving/analysers/RawFileReader.h"
#include "carving/analysers/TextScan.h"
#include "filesystems/FileProperties.h"

#include <algorithm>
#include <cstring>

namespace {

enum : std::uint8_t { kText, kOpen, kClose, kNotText };

struct ByteClasses {
    std::uint8_t of[256];
    constexpr ByteClasses() : of() {
        for (int b = 0; b < 256; ++b)
            of[b] = CanBeTextUnit(static_cast<std::uint32_t>(b)) ? kText : kNotText;
        of[static_cast<int>('{')] = kOpen;
        of[static_cast<int>('}')] = kClose;
    }
};
constexpr ByteClasses kClasses;
constexpr const std::uint8_t* kByteClass = kClasses.of;

} // namespace

int FileRTFAnalyser::MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) {
    if (std::memcmp(sector, "{\\rtf", 5) != 0)
        return 0;
    record->m_u32FileType = kTypeId;
    return 1;
}

int FileRTFAnalyser::ComputeFileSize(CRawFileInfo* record, IStorageDevice* device) {
    RawFileReader reader(device, record->m_u64StartSector);
    const std::uint64_t cap = GetScanOptions().MaxRawFileSize;
    std::uint64_t depth = 1; // the brace at 0; byte 5 (the version digit) is never counted
    std::uint64_t x = 6;
    for (;;) {
        if (x > cap) {
            record->m_u64Size = x;
            record->m_bScannedToLimit = true;
            return 1;
        }
        ByteSpan s = reader.Read(x);
        if (s.empty()) {
            if (reader.IsWindow())
                return 0; // the file may go on outside the search's window
            record->m_u64Size = x;
            return 1;
        }
        const std::size_t n =
            static_cast<std::size_t>(std::min<std::uint64_t>(s.size(), cap - x + 1));
        const std::uint8_t* p = s.data();
        for (std::size_t i = 0; i < n; ++i) {
            switch (kByteClass[p[i]]) {
            case kText:
                break;
            case kOpen:
                ++depth;
                break;
            case kClose:
                if (--depth == 0) {
                    record->m_u64Size = x + i + 1;
                    return 1;
                }
                break;
            default:
                record->m_u64Size = x + i;
                return 1;
            }
        }
        x += n;
    }
}
