#pragma once
// Corel Photo-Paint images ("CPT7FILE" to "CPT9FILE"): sized through the offset chain of the
// file header.
#include "carving/analysers/RawFileAnalyser.h"

class FileCPTAnalyser : public IRawFileAnalyser {
public:
    static constexpr int kTypeId = 15;
    FileCPTAnalyser() : IRawFileAnalyser(kTypeId) {}
    int MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) override;
    int ComputeFileSize(CRawFileInfo* record, IStorageDevice* device) override;
    bool GetSignatureKeys(std::vector<SignatureKey>& keys) const override;
};

inline constexpr RawFileTypeInfo kFileCPTAnalyserTypes[] = {
    {FileCPTAnalyser::kTypeId, "CPT", "Corel Photo Paint Image file"},
};
inline constexpr AnalyserDescriptor kFileCPTAnalyserDescriptor{
    "FileCPTAnalyser", FileCPTAnalyser::kTypeId, kFileCPTAnalyserTypes, {},
    &NewAnalyser<FileCPTAnalyser>};
