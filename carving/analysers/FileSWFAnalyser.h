#pragma once
// Flash movie: "FWS" (its header holds the size) or "CWS" (a zlib stream behind an 8-byte
// header).
#include "carving/analysers/RawFileAnalyser.h"

class FileSWFAnalyser : public IRawFileAnalyser {
public:
    static constexpr int kTypeId = 58;

    FileSWFAnalyser() : IRawFileAnalyser(kTypeId) {}
    int MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) override;
    int ComputeFileSize(CRawFileInfo* record, IStorageDevice* device) override;
    bool GetSignatureKeys(std::vector<SignatureKey>& keys) const override;
};

inline constexpr RawFileTypeInfo kFileSWFAnalyserTypes[] = {
    {FileSWFAnalyser::kTypeId, "SWF", "ShockWave Flash file"},
};
inline constexpr AnalyserDescriptor kFileSWFAnalyserDescriptor{
    "FileSWFAnalyser", FileSWFAnalyser::kTypeId, kFileSWFAnalyserTypes, {},
    &NewAnalyser<FileSWFAnalyser>};
