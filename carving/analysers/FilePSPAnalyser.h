#pragma once
// Paint Shop Pro images: sized by walking the "~BK" blocks behind the file header.
#include "carving/analysers/RawFileAnalyser.h"

class FilePSPAnalyser : public IRawFileAnalyser {
public:
    static constexpr int kTypeId = 51;
    FilePSPAnalyser() : IRawFileAnalyser(kTypeId) {}
    int MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) override;
    int ComputeFileSize(CRawFileInfo* record, IStorageDevice* device) override;
    bool GetSignatureKeys(std::vector<SignatureKey>& keys) const override;
};

inline constexpr RawFileTypeInfo kFilePSPAnalyserTypes[] = {
    {FilePSPAnalyser::kTypeId, "PSP", "Paint Shop Pro file"},
};
inline constexpr AnalyserDescriptor kFilePSPAnalyserDescriptor{
    "FilePSPAnalyser", FilePSPAnalyser::kTypeId, kFilePSPAnalyserTypes, {},
    &NewAnalyser<FilePSPAnalyser>};
