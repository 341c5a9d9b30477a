#pragma once
// Encapsulated PostScript with the binary DOS header (C5 D0 D3 C6): the header places the
// PostScript section and its previews.
#include "carving/analysers/RawFileAnalyser.h"

class FileEPSAnalyser : public IRawFileAnalyser {
public:
    static constexpr int kTypeId = 25;
    FileEPSAnalyser() : IRawFileAnalyser(kTypeId) {}
    int MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) override;
    bool GetSignatureKeys(std::vector<SignatureKey>& keys) const override;
};
