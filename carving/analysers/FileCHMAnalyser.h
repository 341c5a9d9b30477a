#pragma once
// Compiled HTML help: the "ITSF" header of version 3 with its two fixed GUIDs and the 64-bit
// file size in its first section entry.
#include "carving/analysers/RawFileAnalyser.h"

// The bytes its MatchHeader needs (see SignatureKey).
inline constexpr SignatureKey kFileCHMAnalyserKeys[] = {
    {0, 2, {0x49, 0x54}},
};

class FileCHMAnalyser : public IRawFileAnalyser {
public:
    static constexpr int kTypeId = 12;

    FileCHMAnalyser();
    int MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) override;
};

inline constexpr RawFileTypeInfo kFileCHMAnalyserTypes[] = {
    {FileCHMAnalyser::kTypeId, "CHM", "CHM file"},
};
inline constexpr AnalyserDescriptor kFileCHMAnalyserDescriptor{
    "FileCHMAnalyser", FileCHMAnalyser::kTypeId, kFileCHMAnalyserTypes, {}, kFileCHMAnalyserKeys,
    &NewAnalyser<FileCHMAnalyser>, kNestsOwnType};

inline FileCHMAnalyser::FileCHMAnalyser() : IRawFileAnalyser(kFileCHMAnalyserDescriptor) {}
