#pragma once
// PNG: the eight-byte signature, then chunks (BE u32 length, type, data, CRC) up to "IEND".
#include "carving/analysers/RawFileAnalyser.h"

class FilePNGAnalyser : public IRawFileAnalyser {
public:
    static constexpr int kTypeId = 47;
    // PNG walks stop at this offset; they do not use ScanOptions.MaxRawFileSize.
    static constexpr std::uint64_t kLimit = 0x1400000;
    FilePNGAnalyser() : IRawFileAnalyser(kTypeId) {}
    int MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) override;
    int ComputeFileSize(CRawFileInfo* record, IStorageDevice* device) override;
    bool GetSignatureKeys(std::vector<SignatureKey>& keys) const override;
};

inline constexpr RawFileTypeInfo kFilePNGAnalyserTypes[] = {
    {FilePNGAnalyser::kTypeId, "PNG", "Portable Network Graphic file"},
};
inline constexpr AnalyserDescriptor kFilePNGAnalyserDescriptor{
    "FilePNGAnalyser", FilePNGAnalyser::kTypeId, kFilePNGAnalyserTypes, {},
    &NewAnalyser<FilePNGAnalyser>};
