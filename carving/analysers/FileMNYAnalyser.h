#pragma once
// Microsoft Money files ("MSISAM Database" at 4); the size is not in the header, so a fixed
// extent is recovered.
#include "carving/analysers/RawFileAnalyser.h"

class FileMNYAnalyser : public IRawFileAnalyser {
public:
    static constexpr int kTypeId = 38;
    static constexpr std::uint64_t kFixedSize = 0x100000;
    FileMNYAnalyser() : IRawFileAnalyser(kTypeId) {}
    int MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) override;
    bool GetSignatureKeys(std::vector<SignatureKey>& keys) const override;
};

inline constexpr RawFileTypeInfo kFileMNYAnalyserTypes[] = {
    {FileMNYAnalyser::kTypeId, "MNY", "Microsoft Money file"},
};
inline constexpr AnalyserDescriptor kFileMNYAnalyserDescriptor{
    "FileMNYAnalyser", FileMNYAnalyser::kTypeId, kFileMNYAnalyserTypes, {},
    &NewAnalyser<FileMNYAnalyser>};
