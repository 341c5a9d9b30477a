#pragma once
// FreeHand 11 drawings: the file ends behind the "Decode" trailer.
#include "carving/analysers/RawFileAnalyser.h"

class FileFH11Analyser : public IRawFileAnalyser {
public:
    static constexpr int kTypeId = 27;
    FileFH11Analyser() : IRawFileAnalyser(kTypeId) {}
    int MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) override;
    int ComputeFileSize(CRawFileInfo* record, IStorageDevice* device) override;
    bool GetSignatureKeys(std::vector<SignatureKey>& keys) const override;
};

inline constexpr RawFileTypeInfo kFileFH11AnalyserTypes[] = {
    {FileFH11Analyser::kTypeId, "FH11", "Freehand 10 file"},
};
inline constexpr AnalyserDescriptor kFileFH11AnalyserDescriptor{
    "FileFH11Analyser", FileFH11Analyser::kTypeId, kFileFH11AnalyserTypes, {},
    &NewAnalyser<FileFH11Analyser>};
