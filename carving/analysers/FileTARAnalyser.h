#pragma once
// TAR (ustar and GNU): 512-byte headers with a checksum, each followed by its member's data
// in 512-byte blocks, ended by zero blocks.
#include "carving/analysers/RawFileAnalyser.h"

// The bytes its MatchHeader needs (see SignatureKey).
inline constexpr SignatureKey kFileTARAnalyserKeys[] = {
    {257, 2, {0x75, 0x73}},
};

class FileTARAnalyser : public IRawFileAnalyser {
public:
    static constexpr int kTypeId = 59;

    FileTARAnalyser();
    int MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) override;
    int ComputeFileSize(CRawFileInfo* record, IStorageDevice* device) override;
};

inline constexpr RawFileTypeInfo kFileTARAnalyserTypes[] = {
    {FileTARAnalyser::kTypeId, "TAR", "TAR archive file"},
};
inline constexpr AnalyserDescriptor kFileTARAnalyserDescriptor{
    "FileTARAnalyser", FileTARAnalyser::kTypeId, kFileTARAnalyserTypes, {}, kFileTARAnalyserKeys,
    &NewAnalyser<FileTARAnalyser>, kNestsOwnType};

inline FileTARAnalyser::FileTARAnalyser() : IRawFileAnalyser(kFileTARAnalyserDescriptor) {}
