#pragma once
// FreeHand 11 drawings: the file ends behind the "Decode" trailer.
#include "carving/analysers/RawFileAnalyser.h"

// The bytes its MatchHeader needs (see SignatureKey).
inline constexpr SignatureKey kFileFH11AnalyserKeys[] = {
    {0, 2, {0x1C, 0x01}},
};

class FileFH11Analyser : public IRawFileAnalyser {
public:
    static constexpr int kTypeId = 27;
    FileFH11Analyser();
    int MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) override;
    int ComputeFileSize(CRawFileInfo* record, IStorageDevice* device) override;
};

inline constexpr RawFileTypeInfo kFileFH11AnalyserTypes[] = {
    {FileFH11Analyser::kTypeId, "FH11", "Freehand 10 file"},
};
inline constexpr AnalyserDescriptor kFileFH11AnalyserDescriptor{
    "FileFH11Analyser", FileFH11Analyser::kTypeId, kFileFH11AnalyserTypes, {}, kFileFH11AnalyserKeys,
    &NewAnalyser<FileFH11Analyser>};

inline FileFH11Analyser::FileFH11Analyser() : IRawFileAnalyser(kFileFH11AnalyserDescriptor) {}
