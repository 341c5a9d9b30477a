#include "carving/analysers/FileEPSAnalyser.h"

#include <algorithm>
#include <cctype>

namespace {
const std::uint8_t kSignature[4] = {0xC5, 0xD0, 0xD3, 0xC6};

// The four bytes at 28: the unused checksum FF FF, then what starts at 30 (the PostScript, or a
// TIFF preview placed first).
bool KnownChecksumField(const std::uint8_t* p) {
    if (p[0] != 0xFF || p[1] != 0xFF)
        return false;
    const int a = std::toupper(p[2]), b = std::toupper(p[3]);
    return (a == '%' && b == '!') || (a == 0 && b == 0) || (a == 'I' && b == 'I');
}
} // namespace

BRULIN_DEFINE_ANALYSER_FACTORY(FileEPSAnalyser)

bool FileEPSAnalyser::GetSignatureKeys(std::vector<SignatureKey>& keys) const {
    AddSignatureKey(keys, 0, kSignature, 2);
    return true;
}

int FileEPSAnalyser::MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) {
    const ByteSpan s(sector, kSectorSize);
    if (!s.matches(0, kSignature, sizeof(kSignature)) || !KnownChecksumField(sector + 28))
        return 0;
    // Offset and length of the PostScript section, the metafile preview and the TIFF preview:
    // the file ends where the last of them ends.
    std::uint64_t end = 0;
    for (std::size_t field = 4; field <= 20; field += 8)
        end = std::max<std::uint64_t>(end, std::uint64_t(s.u32(field)) + s.u32(field + 4));
    record->m_u32FileType = kTypeId;
    record->m_u64Size = end;
    return 1;
}
