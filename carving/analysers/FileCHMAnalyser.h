#pragma once
// Compiled HTML help: the "ITSF" header of version 3 with its two fixed GUIDs and the 64-bit
// file size in its first section entry.
#include "carving/analysers/RawFileAnalyser.h"

class FileCHMAnalyser : public IRawFileAnalyser {
public:
    static constexpr int kTypeId = 12;

    FileCHMAnalyser() : IRawFileAnalyser(kTypeId) {}
    int MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) override;
    bool GetSignatureKeys(std::vector<SignatureKey>& keys) const override;
};

inline constexpr RawFileTypeInfo kFileCHMAnalyserTypes[] = {
    {FileCHMAnalyser::kTypeId, "CHM", "CHM file"},
};
inline constexpr AnalyserDescriptor kFileCHMAnalyserDescriptor{
    "FileCHMAnalyser", FileCHMAnalyser::kTypeId, kFileCHMAnalyserTypes, {},
    &NewAnalyser<FileCHMAnalyser>};
