#include "carving/analysers/FileCPTAnalyser.h"

#include "carving/analysers/AnalyserCalls.h"
#include "carving/analysers/RawFileReader.h"

#include <cstring>

namespace {
const char* const kSignatures[] = {"CPT7FILE", "CPT8FILE", "CPT9FILE"};
constexpr std::uint32_t kHeaderMark = 316; // u32 at 52 of every file seen

// A u32 of the file at `offset`; false when it cannot be read.
bool ReadU32(RawFileReader& reader, std::uint64_t offset, std::uint64_t* value) {
    ByteSpan s = reader.Read(offset, 4);
    if (s.empty())
        return false;
    *value = s.u32(0);
    return true;
}
} // namespace

int FileCPTAnalyser::MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) {
    bool known = false;
    for (const char* s : kSignatures)
        known = known || std::memcmp(sector, s, 8) == 0;
    if (!known || ByteSpan(sector, kSectorSize).u32(52) != kHeaderMark)
        return 0;
    record->m_u32FileType = kTypeId;
    record->m_u64Size = 0;
    return 1;
}

// The header points (u32 at 52) to a table of 8-byte entries, as many as u32 at 40 says; the
// last entry's first u32 locates the final block, whose fields lead to the file's end.
int FileCPTAnalyser::ComputeFileSize(CRawFileInfo* record, IStorageDevice* device) {
    return GuardedCall(kAnalyserSizeSite, kTypeId, [&]() -> int {
        RawFileReader reader(device, record->m_u64StartSector);
        std::uint64_t a = 0, n = 0, c = 0;
        if (reader.Read(0, 56).empty() || !ReadU32(reader, 52, &a) || !ReadU32(reader, 40, &n))
            return 0;
        if (reader.Read(a, 4).empty() || n == 0)
            return 0;
        if (!ReadU32(reader, a + 8 * n - 8, &c) || reader.Read(c, 4).empty())
            return 0;
        std::uint64_t d = c + 60, k = 0, atD = 0;
        if (!ReadU32(reader, c + 32, &k) || !ReadU32(reader, c + 60, &atD))
            return 0;
        if (k != 0 && atD == k)
            d = k + c + 60;
        std::uint64_t e = 0, f = 0;
        if (!ReadU32(reader, d, &e) || !ReadU32(reader, d + 4, &f))
            return 0;
        if (e != 0 && f != 0) {
            std::uint64_t x = 0, y = 0;
            if (e < 8 || !ReadU32(reader, e - 8, &x) || !ReadU32(reader, e - 4, &y))
                return 0;
            c = x + y;
        }
        record->m_u64Size = c;
        return 1;
    }, 0);
}
