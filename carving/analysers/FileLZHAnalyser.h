#pragma once
// LHA/LZH: a chain of member headers (levels 0 to 3), each followed by its packed data, ended
// by a zero byte.
#include "carving/analysers/RawFileAnalyser.h"

// The bytes its MatchHeader needs (see SignatureKey).
inline constexpr SignatureKey kFileLZHAnalyserKeys[] = {
    {2, 2, {0x2D, 0x6C}},
};

class FileLZHAnalyser : public IRawFileAnalyser {
public:
    static constexpr int kTypeId = 34;

    FileLZHAnalyser();
    int MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) override;
    int ComputeFileSize(CRawFileInfo* record, IStorageDevice* device) override;
};

inline constexpr RawFileTypeInfo kFileLZHAnalyserTypes[] = {
    {FileLZHAnalyser::kTypeId, "LZH", "LZH compression file"},
};
inline constexpr AnalyserDescriptor kFileLZHAnalyserDescriptor{
    "FileLZHAnalyser", FileLZHAnalyser::kTypeId, kFileLZHAnalyserTypes, {}, kFileLZHAnalyserKeys,
    &NewAnalyser<FileLZHAnalyser>, kNestsOwnType};

inline FileLZHAnalyser::FileLZHAnalyser() : IRawFileAnalyser(kFileLZHAnalyserDescriptor) {}
