#pragma once
// RAR: the marker block, then blocks of RAR 1.5 to 4.x (or of RAR 5, behind its own
// eight-byte marker) up to the end-of-archive block.
#include "carving/analysers/RawFileAnalyser.h"

// The bytes its MatchHeader needs (see SignatureKey).
inline constexpr SignatureKey kFileRARAnalyserKeys[] = {
    {0, 2, {0x52, 0x61}},
};

class FileRARAnalyser : public IRawFileAnalyser {
public:
    static constexpr int kTypeId = 54;

    FileRARAnalyser();
    int MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) override;
    int ComputeFileSize(CRawFileInfo* record, IStorageDevice* device) override;
};

inline constexpr RawFileTypeInfo kFileRARAnalyserTypes[] = {
    {FileRARAnalyser::kTypeId, "RAR", "RAR compression file"},
};
inline constexpr AnalyserDescriptor kFileRARAnalyserDescriptor{
    "FileRARAnalyser", FileRARAnalyser::kTypeId, kFileRARAnalyserTypes, {}, kFileRARAnalyserKeys,
    &NewAnalyser<FileRARAnalyser>, kNestsOwnType};

inline FileRARAnalyser::FileRARAnalyser() : IRawFileAnalyser(kFileRARAnalyserDescriptor) {}
