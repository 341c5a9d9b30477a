#pragma once
// Corel Photo-Paint images ("CPT7FILE" to "CPT9FILE"): sized through the offset chain of the
// file header.
#include "carving/analysers/RawFileAnalyser.h"

// The bytes its MatchHeader needs (see SignatureKey).
inline constexpr SignatureKey kFileCPTAnalyserKeys[] = {
    {0, 2, {0x43, 0x50}},
};

class FileCPTAnalyser : public IRawFileAnalyser {
public:
    static constexpr int kTypeId = 15;
    FileCPTAnalyser();
    int MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) override;
    int ComputeFileSize(CRawFileInfo* record, IStorageDevice* device) override;
};

inline constexpr RawFileTypeInfo kFileCPTAnalyserTypes[] = {
    {FileCPTAnalyser::kTypeId, "CPT", "Corel Photo Paint Image file"},
};
inline constexpr AnalyserDescriptor kFileCPTAnalyserDescriptor{
    "FileCPTAnalyser", FileCPTAnalyser::kTypeId, kFileCPTAnalyserTypes, {}, kFileCPTAnalyserKeys,
    &NewAnalyser<FileCPTAnalyser>};

inline FileCPTAnalyser::FileCPTAnalyser() : IRawFileAnalyser(kFileCPTAnalyserDescriptor) {}
