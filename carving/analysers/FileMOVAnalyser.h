#pragma once
// QuickTime movie: top-level atoms from the first one ("moov", "mdat" or the "qt  " file
// type).
#include "carving/analysers/RawFileAnalyser.h"

// The bytes its MatchHeader needs (see SignatureKey).
inline constexpr SignatureKey kFileMOVAnalyserKeys[] = {
    {4, 2, {0x6D, 0x6F}},
    {4, 2, {0x6D, 0x64}},
    {4, 2, {0x66, 0x74}},
};

class FileMOVAnalyser : public IRawFileAnalyser {
public:
    static constexpr int kTypeId = 40;

    FileMOVAnalyser();
    int MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) override;
    int ComputeFileSize(CRawFileInfo* record, IStorageDevice* device) override;
};

inline constexpr RawFileTypeInfo kFileMOVAnalyserTypes[] = {
    {FileMOVAnalyser::kTypeId, "MOV", "MOV Multimedia file"},
};
inline constexpr AnalyserDescriptor kFileMOVAnalyserDescriptor{
    "FileMOVAnalyser", FileMOVAnalyser::kTypeId, kFileMOVAnalyserTypes, {}, kFileMOVAnalyserKeys,
    &NewAnalyser<FileMOVAnalyser>, kNestsOwnType};

inline FileMOVAnalyser::FileMOVAnalyser() : IRawFileAnalyser(kFileMOVAnalyserDescriptor) {}
