#pragma once
// TrueType fonts: the table directory gives the size.
#include "carving/analysers/RawFileAnalyser.h"

// The bytes its MatchHeader needs (see SignatureKey).
inline constexpr SignatureKey kFileTTFAnalyserKeys[] = {
    {0, 2, {0x00, 0x01}},
};

class FileTTFAnalyser : public IRawFileAnalyser {
public:
    static constexpr int kTypeId = 61;
    FileTTFAnalyser();
    int MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) override;
};

inline constexpr RawFileTypeInfo kFileTTFAnalyserTypes[] = {
    {FileTTFAnalyser::kTypeId, "TTF", "True Type Font file"},
};
inline constexpr AnalyserDescriptor kFileTTFAnalyserDescriptor{
    "FileTTFAnalyser", FileTTFAnalyser::kTypeId, kFileTTFAnalyserTypes, {}, kFileTTFAnalyserKeys,
    &NewAnalyser<FileTTFAnalyser>};

inline FileTTFAnalyser::FileTTFAnalyser() : IRawFileAnalyser(kFileTTFAnalyserDescriptor) {}
