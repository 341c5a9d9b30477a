#pragma once
// Access (Jet) databases: the "Standard Jet DB" header page, then pages whose first byte is
// the page type.
#include "carving/analysers/RawFileAnalyser.h"

// The bytes its MatchHeader needs (see SignatureKey).
inline constexpr SignatureKey kFileMDBAnalyserKeys[] = {
    {0, 2, {0x00, 0x01}},
};

class FileMDBAnalyser : public IRawFileAnalyser {
public:
    static constexpr int kTypeId = 37;
    static constexpr std::uint64_t kLongestWalk = 0x6400000;

    FileMDBAnalyser();
    int MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) override;
    // Walks the pages (2048 bytes in Jet 3 files, 4096 from Jet 4 on, by the version byte at
    // 20) from the second one while their type byte, taken as signed, is at most 5. The size
    // is where the walk stopped: at the first other page, where the device's bytes run out,
    // past ScanOptions.MaxRawFileSize, or at 100 MiB.
    int ComputeFileSize(CRawFileInfo* record, IStorageDevice* device) override;
};

inline constexpr RawFileTypeInfo kFileMDBAnalyserTypes[] = {
    {FileMDBAnalyser::kTypeId, "MDB", "Access Database file"},
};
inline constexpr AnalyserDescriptor kFileMDBAnalyserDescriptor{
    "FileMDBAnalyser", FileMDBAnalyser::kTypeId, kFileMDBAnalyserTypes, {}, kFileMDBAnalyserKeys,
    &NewAnalyser<FileMDBAnalyser>};

inline FileMDBAnalyser::FileMDBAnalyser() : IRawFileAnalyser(kFileMDBAnalyserDescriptor) {}
