#pragma once
// AutoCAD DXF text drawings: the file ends behind "EOF".
#include "carving/analysers/RawFileAnalyser.h"

// The bytes its MatchHeader needs (see SignatureKey).
inline constexpr SignatureKey kFileDXFAnalyserKeys[] = {
    {0, 2, {0x20, 0x20}},
};

class FileDXFAnalyser : public IRawFileAnalyser {
public:
    static constexpr int kTypeId = 23;
    FileDXFAnalyser();
    int MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) override;
    int ComputeFileSize(CRawFileInfo* record, IStorageDevice* device) override;
};

inline constexpr RawFileTypeInfo kFileDXFAnalyserTypes[] = {
    {FileDXFAnalyser::kTypeId, "DXF", "AutoCad DX File"},
};
inline constexpr AnalyserDescriptor kFileDXFAnalyserDescriptor{
    "FileDXFAnalyser", FileDXFAnalyser::kTypeId, kFileDXFAnalyserTypes, {}, kFileDXFAnalyserKeys,
    &NewAnalyser<FileDXFAnalyser>};

inline FileDXFAnalyser::FileDXFAnalyser() : IRawFileAnalyser(kFileDXFAnalyserDescriptor) {}
