#pragma once
// Flash movie: "FWS" (its header holds the size) or "CWS" (a zlib stream behind an 8-byte
// header).
#include "carving/analysers/RawFileAnalyser.h"

// The bytes its MatchHeader needs (see SignatureKey).
inline constexpr SignatureKey kFileSWFAnalyserKeys[] = {
    {0, 2, {0x46, 0x57}},
    {0, 2, {0x43, 0x57}},
};

class FileSWFAnalyser : public IRawFileAnalyser {
public:
    static constexpr int kTypeId = 58;

    FileSWFAnalyser();
    int MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) override;
    int ComputeFileSize(CRawFileInfo* record, IStorageDevice* device) override;
};

inline constexpr RawFileTypeInfo kFileSWFAnalyserTypes[] = {
    {FileSWFAnalyser::kTypeId, "SWF", "ShockWave Flash file"},
};
inline constexpr AnalyserDescriptor kFileSWFAnalyserDescriptor{
    "FileSWFAnalyser", FileSWFAnalyser::kTypeId, kFileSWFAnalyserTypes, {}, kFileSWFAnalyserKeys,
    &NewAnalyser<FileSWFAnalyser>};

inline FileSWFAnalyser::FileSWFAnalyser() : IRawFileAnalyser(kFileSWFAnalyserDescriptor) {}
