#pragma once
// gzip: 1F 8B 08 and a flag byte without reserved bits, then a deflate stream with its 8-byte
// trailer; members may follow each other.
#include "carving/analysers/RawFileAnalyser.h"

// The bytes its MatchHeader needs (see SignatureKey).
inline constexpr SignatureKey kFileGZAnalyserKeys[] = {
    {0, 2, {0x1F, 0x8B}},
};

class FileGZAnalyser : public IRawFileAnalyser {
public:
    static constexpr int kTypeId = 29;

    FileGZAnalyser();
    int MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) override;
    int ComputeFileSize(CRawFileInfo* record, IStorageDevice* device) override;
};

inline constexpr RawFileTypeInfo kFileGZAnalyserTypes[] = {
    {FileGZAnalyser::kTypeId, "GZ", "GZIP compression file"},
};
inline constexpr AnalyserDescriptor kFileGZAnalyserDescriptor{
    "FileGZAnalyser", FileGZAnalyser::kTypeId, kFileGZAnalyserTypes, {}, kFileGZAnalyserKeys,
    &NewAnalyser<FileGZAnalyser>, kNestsOwnType};

inline FileGZAnalyser::FileGZAnalyser() : IRawFileAnalyser(kFileGZAnalyserDescriptor) {}
