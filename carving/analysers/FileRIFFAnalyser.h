#pragma once
// RIFF: "RIFF", the size of what follows, the form. Tells WAV, AVI, ANI, CMX, CLK, CSL and
// CDR apart by the form and the first chunk.
#include "carving/analysers/RawFileAnalyser.h"

class FileRIFFAnalyser : public IRawFileAnalyser {
public:
    static constexpr int kTypeId = 55;

    FileRIFFAnalyser() : IRawFileAnalyser(kTypeId) {}
    int MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) override;
    bool GetSignatureKeys(std::vector<SignatureKey>& keys) const override;
};
