#pragma once
// FreeHand 11 drawings: the file ends behind the "Decode" trailer.
#include "carving/analysers/RawFileAnalyser.h"

class FileFH11Analyser : public IRawFileAnalyser {
public:
    static constexpr int kTypeId = 27;
    FileFH11Analyser() : IRawFileAnalyser(kTypeId) {}
    int MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) override;
    int ComputeFileSize(CRawFileInfo* record, IStorageDevice* device) override;
    bool GetSignatureKeys(std::vector<SignatureKey>& keys) const override;
};
