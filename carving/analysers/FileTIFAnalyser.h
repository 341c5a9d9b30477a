#pragma once
// TIFF, little- ("II") or big-endian ("MM"): sized by walking the image directories and the
// strips, tiles and values they point to.
#include "carving/analysers/RawFileAnalyser.h"

class FileTIFAnalyser : public IRawFileAnalyser {
public:
    static constexpr int kTypeId = 60;
    FileTIFAnalyser() : IRawFileAnalyser(kTypeId) {}
    int MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) override;
    int ComputeFileSize(CRawFileInfo* record, IStorageDevice* device) override;
    bool GetSignatureKeys(std::vector<SignatureKey>& keys) const override;
};

inline constexpr RawFileTypeInfo kFileTIFAnalyserTypes[] = {
    {FileTIFAnalyser::kTypeId, "TIF", "Tagged Image File"},
};
inline constexpr AnalyserDescriptor kFileTIFAnalyserDescriptor{
    "FileTIFAnalyser", FileTIFAnalyser::kTypeId, kFileTIFAnalyserTypes, {},
    &NewAnalyser<FileTIFAnalyser>};
