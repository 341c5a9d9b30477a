#pragma once
// JPEG (JFIF, Exif or a bare quantisation table first; any non-differential frame): sized by
// walking the markers to the first start of scan, then looking for the end-of-image marker, or
// for the first byte pair that entropy-coded data cannot hold (the file was cut short there).
#include "carving/analysers/RawFileAnalyser.h"

// The bytes its MatchHeader needs (see SignatureKey).
inline constexpr SignatureKey kFileJPGAnalyserKeys[] = {
    {0, 2, {0xFF, 0xD8}},
};

class FileJPGAnalyser : public IRawFileAnalyser {
public:
    static constexpr int kTypeId = 33;
    FileJPGAnalyser();
    int MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) override;
    int ComputeFileSize(CRawFileInfo* record, IStorageDevice* device) override;
};

inline constexpr RawFileTypeInfo kFileJPGAnalyserTypes[] = {
    {FileJPGAnalyser::kTypeId, "JPG", "JPEG Graphics file"},
};
inline constexpr AnalyserDescriptor kFileJPGAnalyserDescriptor{
    "FileJPGAnalyser", FileJPGAnalyser::kTypeId, kFileJPGAnalyserTypes, {}, kFileJPGAnalyserKeys,
    &NewAnalyser<FileJPGAnalyser>};

inline FileJPGAnalyser::FileJPGAnalyser() : IRawFileAnalyser(kFileJPGAnalyserDescriptor) {}
