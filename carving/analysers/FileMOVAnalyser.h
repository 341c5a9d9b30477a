#pragma once
// QuickTime movie: top-level atoms from the first one ("moov", "mdat" or the "qt  " file
// type).
#include "carving/analysers/RawFileAnalyser.h"

class FileMOVAnalyser : public IRawFileAnalyser {
public:
    static constexpr int kTypeId = 40;

    FileMOVAnalyser() : IRawFileAnalyser(kTypeId) {}
    int MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) override;
    int ComputeFileSize(CRawFileInfo* record, IStorageDevice* device) override;
    bool GetSignatureKeys(std::vector<SignatureKey>& keys) const override;
};

inline constexpr RawFileTypeInfo kFileMOVAnalyserTypes[] = {
    {FileMOVAnalyser::kTypeId, "MOV", "MOV Multimedia file"},
};
inline constexpr AnalyserDescriptor kFileMOVAnalyserDescriptor{
    "FileMOVAnalyser", FileMOVAnalyser::kTypeId, kFileMOVAnalyserTypes, {},
    &NewAnalyser<FileMOVAnalyser>};
