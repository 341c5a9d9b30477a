#pragma once
// Word for Windows 1 and 2 documents (before compound files): the header gives the text's end
// and the length of what follows it, which the file rounds up to whole 512-byte pages.
#include "carving/analysers/RawFileAnalyser.h"

class FileLowDocAnalyser : public IRawFileAnalyser {
public:
    static constexpr int kTypeId = 21;

    FileLowDocAnalyser() : IRawFileAnalyser(kTypeId) {}
    int MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) override;
    bool GetSignatureKeys(std::vector<SignatureKey>& keys) const override;
};

inline constexpr std::uint32_t kFileLowDocAnalyserAlsoFor[] = {21};
inline constexpr AnalyserDescriptor kFileLowDocAnalyserDescriptor{
    "FileLowDocAnalyser", FileLowDocAnalyser::kTypeId, {}, kFileLowDocAnalyserAlsoFor,
    &NewAnalyser<FileLowDocAnalyser>};
