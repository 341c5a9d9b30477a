#pragma once
// TrueType fonts: the table directory gives the size.
#include "carving/analysers/RawFileAnalyser.h"

class FileTTFAnalyser : public IRawFileAnalyser {
public:
    static constexpr int kTypeId = 61;
    FileTTFAnalyser() : IRawFileAnalyser(kTypeId) {}
    int MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) override;
    bool GetSignatureKeys(std::vector<SignatureKey>& keys) const override;
};

inline constexpr RawFileTypeInfo kFileTTFAnalyserTypes[] = {
    {FileTTFAnalyser::kTypeId, "TTF", "True Type Font file"},
};
inline constexpr AnalyserDescriptor kFileTTFAnalyserDescriptor{
    "FileTTFAnalyser", FileTTFAnalyser::kTypeId, kFileTTFAnalyserTypes, {},
    &NewAnalyser<FileTTFAnalyser>};
