#include "carving/analysers/FileMOVAnalyser.h"

#include "carving/analysers/AnalyserFormats.h"

#include <cstring>

int FileMOVAnalyser::MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) {
    const std::uint8_t* type = sector + 4;
    // A movie that starts with its header or its media data, or with the QuickTime file type.
    if (std::memcmp(type, "moov", 4) != 0 && std::memcmp(type, "mdat", 4) != 0 &&
        std::memcmp(type, "ftypqt  ", 8) != 0)
        return 0;
    record->m_u32FileType = kTypeId;
    return 1;
}

int FileMOVAnalyser::ComputeFileSize(CRawFileInfo* record, IStorageDevice* device) {
    return WalkQuickTimeAtoms(record, device);
}
