#pragma once
// AutoCAD DXF text drawings: the file ends behind "EOF".
#include "carving/analysers/RawFileAnalyser.h"

class FileDXFAnalyser : public IRawFileAnalyser {
public:
    static constexpr int kTypeId = 23;
    FileDXFAnalyser() : IRawFileAnalyser(kTypeId) {}
    int MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) override;
    int ComputeFileSize(CRawFileInfo* record, IStorageDevice* device) override;
    bool GetSignatureKeys(std::vector<SignatureKey>& keys) const override;
};

inline constexpr RawFileTypeInfo kFileDXFAnalyserTypes[] = {
    {FileDXFAnalyser::kTypeId, "DXF", "AutoCad DX File"},
};
inline constexpr AnalyserDescriptor kFileDXFAnalyserDescriptor{
    "FileDXFAnalyser", FileDXFAnalyser::kTypeId, kFileDXFAnalyserTypes, {},
    &NewAnalyser<FileDXFAnalyser>};
