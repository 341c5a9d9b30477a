#include "carving/analysers/FileMP4Analyser.h"

#include "carving/analysers/AnalyserFormats.h"

#include <strings.h>

namespace {
const char* const kMpeg4Brands[] = {"ftypisom", "ftypmp42", "ftypM4V "};
const char* const k3gppBrands[] = {"ftyp3g2a", "ftyp3gp4"};
} // namespace

FileMP4Analyser::FileMP4Analyser(Brands brands)
    : IRawFileAnalyser(brands == Brands::ThreeGpp ? kFile3GPAnalyserDescriptor
                                                  : kFileMP4AnalyserDescriptor),
      m_brands(brands == Brands::ThreeGpp ? std::span<const char* const>(k3gppBrands)
                                          : std::span<const char* const>(kMpeg4Brands)) {}

int FileMP4Analyser::MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) {
    for (const char* brand : m_brands)
        if (strncasecmp(reinterpret_cast<const char*>(sector + 4), brand, 8) == 0) {
            record->m_u32FileType = static_cast<std::uint32_t>(m_typeId);
            record->m_u64Size = 0;
            return 1;
        }
    return 0;
}

int FileMP4Analyser::ComputeFileSize(CRawFileInfo* record, IStorageDevice* device) {
    return WalkQuickTimeAtoms(record, device);
}
