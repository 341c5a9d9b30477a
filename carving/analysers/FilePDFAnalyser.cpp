#include "carving/analysers/FilePDFAnalyser.h"

#include "carving/analysers/RawFileReader.h"
#include "filesystems/FileProperties.h"

#include <algorithm>
#include <cstring>

namespace {

bool IsLineText(std::uint8_t b) {
    return (b >= 0x20 && b <= 0x7E) || b == '\r' || b == '\n';
}

} // namespace

bool FilePDFAnalyser::GetSignatureKeys(std::vector<SignatureKey>& keys) const {
    AddSignatureKey(keys, 0, "%P", 2);
    return true;
}

int FilePDFAnalyser::MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) {
    if (std::memcmp(sector, "%PDF-", 5) != 0)
        return 0;
    record->m_u32FileType = kTypeId;
    return 1;
}

int FilePDFAnalyser::ComputeFileSize(CRawFileInfo* record, IStorageDevice* device) {
    RawFileReader reader(device, record->m_u64StartSector);
    const std::uint64_t cap = GetScanOptions().MaxRawFileSize;
    std::uint32_t type = kTypeId;
    std::uint64_t lastEnd = 0; // behind the last "%%EOF" seen
    std::uint64_t x = 4;
    const auto finish = [&](std::uint64_t size) {
        record->m_u32FileType = type;
        record->m_u64Size = size;
        return 1;
    };
    for (;;) {
        if (x > cap)
            return finish(lastEnd ? lastEnd : x);
        ByteSpan s = reader.Read(x);
        if (s.empty()) {
            // In the search's ring the file may go on outside the window; on the device the
            // bytes have run out.
            if (reader.IsWindow() || lastEnd == 0)
                return 0;
            return finish(lastEnd);
        }
        // Only a '%' can start a marker: skip to the next one within the limit.
        const std::size_t span =
            static_cast<std::size_t>(std::min<std::uint64_t>(s.size(), cap - x + 1));
        const void* pct = std::memchr(s.data(), '%', span);
        if (!pct) {
            x += span;
            continue;
        }
        const std::size_t at = static_cast<const std::uint8_t*>(pct) - s.data();
        x += at;
        // The markers need up to 10 bytes from the '%'; read again only where fewer are at hand.
        s = s.size() - at >= 10 ? s.from(at) : reader.Read(x);
        if (s.matches(0, "%!PS-Adobe", 10))
            type = kIllustratorType;
        if (s.matches(0, "%%EOF", 5)) {
            const std::uint64_t end = x + (type == kIllustratorType ? 7 : 6);
            lastEnd = end;
            const bool more =
                s.has(5, 3) && IsLineText(s.u8(5)) && IsLineText(s.u8(6)) && IsLineText(s.u8(7));
            if (!more)
                return finish(end);
            x = end;
            continue;
        }
        if (s.matches(0, "%PDF-", 5)) // the next file starts here
            return finish(lastEnd ? lastEnd : x);
        ++x;
    }
}
