#pragma once
// Paint Shop Pro images: sized by walking the "~BK" blocks behind the file header.
#include "carving/analysers/RawFileAnalyser.h"

// The bytes its MatchHeader needs (see SignatureKey).
inline constexpr SignatureKey kFilePSPAnalyserKeys[] = {
    {0, 2, {0x50, 0x61}},
};

class FilePSPAnalyser : public IRawFileAnalyser {
public:
    static constexpr int kTypeId = 51;
    FilePSPAnalyser();
    int MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) override;
    int ComputeFileSize(CRawFileInfo* record, IStorageDevice* device) override;
};

inline constexpr RawFileTypeInfo kFilePSPAnalyserTypes[] = {
    {FilePSPAnalyser::kTypeId, "PSP", "Paint Shop Pro file"},
};
inline constexpr AnalyserDescriptor kFilePSPAnalyserDescriptor{
    "FilePSPAnalyser", FilePSPAnalyser::kTypeId, kFilePSPAnalyserTypes, {}, kFilePSPAnalyserKeys,
    &NewAnalyser<FilePSPAnalyser>};

inline FilePSPAnalyser::FilePSPAnalyser() : IRawFileAnalyser(kFilePSPAnalyserDescriptor) {}
