#pragma once
// TAR (ustar and GNU): 512-byte headers with a checksum, each followed by its member's data
// in 512-byte blocks, ended by zero blocks.
#include "carving/analysers/RawFileAnalyser.h"

class FileTARAnalyser : public IRawFileAnalyser {
public:
    static constexpr int kTypeId = 59;

    FileTARAnalyser() : IRawFileAnalyser(kTypeId) {}
    int MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) override;
    int ComputeFileSize(CRawFileInfo* record, IStorageDevice* device) override;
    bool GetSignatureKeys(std::vector<SignatureKey>& keys) const override;
};

inline constexpr RawFileTypeInfo kFileTARAnalyserTypes[] = {
    {FileTARAnalyser::kTypeId, "TAR", "TAR archive file"},
};
inline constexpr AnalyserDescriptor kFileTARAnalyserDescriptor{
    "FileTARAnalyser", FileTARAnalyser::kTypeId, kFileTARAnalyserTypes, {},
    &NewAnalyser<FileTARAnalyser>};
