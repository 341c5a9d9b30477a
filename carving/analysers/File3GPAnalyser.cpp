#include "carving/analysers/File3GPAnalyser.h"

#include "carving/analysers/AnalyserFormats.h"

#include <strings.h>

BRULIN_DEFINE_ANALYSER_FACTORY(File3GPAnalyser)

namespace {
const char* const kBrands[] = {"ftyp3g2a", "ftyp3gp4"};
}

bool File3GPAnalyser::GetSignatureKeys(std::vector<SignatureKey>& keys) const {
    AddSignatureKeyNoCase(keys, 4, "ft", 2);
    return true;
}

int File3GPAnalyser::MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) {
    for (const char* brand : kBrands)
        if (strncasecmp(reinterpret_cast<const char*>(sector + 4), brand, 8) == 0) {
            record->m_u32FileType = kTypeId;
            record->m_u64Size = 0;
            return 1;
        }
    return 0;
}

int File3GPAnalyser::ComputeFileSize(CRawFileInfo* record, IStorageDevice* device) {
    return WalkQuickTimeAtoms(record, device);
}
