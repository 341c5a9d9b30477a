#include "carving/analysers/FileMP4Analyser.h"

#include "carving/analysers/AnalyserFormats.h"

#include <strings.h>

BRULIN_DEFINE_ANALYSER_FACTORY(FileMP4Analyser)

namespace {
const char* const kBrands[] = {"ftypisom", "ftypmp42", "ftypM4V "};
}

bool FileMP4Analyser::GetSignatureKeys(std::vector<SignatureKey>& keys) const {
    AddSignatureKeyNoCase(keys, 4, "ft", 2);
    return true;
}

int FileMP4Analyser::MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) {
    for (const char* brand : kBrands)
        if (strncasecmp(reinterpret_cast<const char*>(sector + 4), brand, 8) == 0) {
            record->m_u32FileType = kTypeId;
            record->m_u64Size = 0;
            return 1;
        }
    return 0;
}

int FileMP4Analyser::ComputeFileSize(CRawFileInfo* record, IStorageDevice* device) {
    return WalkQuickTimeAtoms(record, device);
}
