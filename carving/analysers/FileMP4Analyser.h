#pragma once
// MP4: an "ftyp" atom with an MPEG-4 brand, then top-level atoms.
#include "carving/analysers/RawFileAnalyser.h"

class FileMP4Analyser : public IRawFileAnalyser {
public:
    static constexpr int kTypeId = 42;

    FileMP4Analyser() : IRawFileAnalyser(kTypeId) {}
    int MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) override;
    int ComputeFileSize(CRawFileInfo* record, IStorageDevice* device) override;
    bool GetSignatureKeys(std::vector<SignatureKey>& keys) const override;
};
