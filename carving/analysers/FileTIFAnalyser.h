#pragma once
// TIFF, little- ("II") or big-endian ("MM"): sized by walking the image directories and the
// strips, tiles and values they point to.
#include "carving/analysers/RawFileAnalyser.h"

// The bytes its MatchHeader needs (see SignatureKey).
inline constexpr SignatureKey kFileTIFAnalyserKeys[] = {
    {0, 2, {0x49, 0x49}},
    {0, 2, {0x4D, 0x4D}},
};

class FileTIFAnalyser : public IRawFileAnalyser {
public:
    static constexpr int kTypeId = 60;
    FileTIFAnalyser();
    int MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) override;
    int ComputeFileSize(CRawFileInfo* record, IStorageDevice* device) override;
};

inline constexpr RawFileTypeInfo kFileTIFAnalyserTypes[] = {
    {FileTIFAnalyser::kTypeId, "TIF", "Tagged Image File"},
};
inline constexpr AnalyserDescriptor kFileTIFAnalyserDescriptor{
    "FileTIFAnalyser", FileTIFAnalyser::kTypeId, kFileTIFAnalyserTypes, {}, kFileTIFAnalyserKeys,
    &NewAnalyser<FileTIFAnalyser>};

inline FileTIFAnalyser::FileTIFAnalyser() : IRawFileAnalyser(kFileTIFAnalyserDescriptor) {}
