#pragma once
// 3GPP / 3GPP2: an "ftyp" atom with a 3GP brand, then top-level atoms.
#include "carving/analysers/RawFileAnalyser.h"

class File3GPAnalyser : public IRawFileAnalyser {
public:
    static constexpr int kTypeId = 2;

    File3GPAnalyser() : IRawFileAnalyser(kTypeId) {}
    int MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) override;
    int ComputeFileSize(CRawFileInfo* record, IStorageDevice* device) override;
    bool GetSignatureKeys(std::vector<SignatureKey>& keys) const override;
};
