#pragma once
// PNG: the eight-byte signature, then chunks (BE u32 length, type, data, CRC) up to "IEND".
#include "carving/analysers/RawFileAnalyser.h"

// The bytes its MatchHeader needs (see SignatureKey).
inline constexpr SignatureKey kFilePNGAnalyserKeys[] = {
    {0, 2, {0x89, 0x50}},
};

class FilePNGAnalyser : public IRawFileAnalyser {
public:
    static constexpr int kTypeId = 47;
    // PNG walks stop at this offset; they do not use ScanOptions.MaxRawFileSize.
    static constexpr std::uint64_t kLimit = 0x1400000;
    FilePNGAnalyser();
    int MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) override;
    int ComputeFileSize(CRawFileInfo* record, IStorageDevice* device) override;
};

inline constexpr RawFileTypeInfo kFilePNGAnalyserTypes[] = {
    {FilePNGAnalyser::kTypeId, "PNG", "Portable Network Graphic file"},
};
inline constexpr AnalyserDescriptor kFilePNGAnalyserDescriptor{
    "FilePNGAnalyser", FilePNGAnalyser::kTypeId, kFilePNGAnalyserTypes, {}, kFilePNGAnalyserKeys,
    &NewAnalyser<FilePNGAnalyser>};

inline FilePNGAnalyser::FilePNGAnalyser() : IRawFileAnalyser(kFilePNGAnalyserDescriptor) {}
