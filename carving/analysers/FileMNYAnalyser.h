#pragma once
// Microsoft Money files ("MSISAM Database" at 4); the size is not in the header, so a fixed
// extent is recovered.
#include "carving/analysers/RawFileAnalyser.h"

// The bytes its MatchHeader needs (see SignatureKey).
inline constexpr SignatureKey kFileMNYAnalyserKeys[] = {
    {4, 2, {0x4D, 0x53}},
};

class FileMNYAnalyser : public IRawFileAnalyser {
public:
    static constexpr int kTypeId = 38;
    static constexpr std::uint64_t kFixedSize = 0x100000;
    FileMNYAnalyser();
    int MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) override;
};

inline constexpr RawFileTypeInfo kFileMNYAnalyserTypes[] = {
    {FileMNYAnalyser::kTypeId, "MNY", "Microsoft Money file"},
};
inline constexpr AnalyserDescriptor kFileMNYAnalyserDescriptor{
    "FileMNYAnalyser", FileMNYAnalyser::kTypeId, kFileMNYAnalyserTypes, {}, kFileMNYAnalyserKeys,
    &NewAnalyser<FileMNYAnalyser>};

inline FileMNYAnalyser::FileMNYAnalyser() : IRawFileAnalyser(kFileMNYAnalyserDescriptor) {}
