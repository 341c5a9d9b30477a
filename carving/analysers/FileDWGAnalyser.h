#pragma once
// AutoCAD drawings: sized by version, from the section locators (R13 to R2000) or from the
// sentinel that follows the last section (R2004).
#include "carving/analysers/RawFileAnalyser.h"

class FileDWGAnalyser : public IRawFileAnalyser {
public:
    static constexpr int kTypeId = 22;
    FileDWGAnalyser() : IRawFileAnalyser(kTypeId) {}
    int MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) override;
    int ComputeFileSize(CRawFileInfo* record, IStorageDevice* device) override;
    bool GetSignatureKeys(std::vector<SignatureKey>& keys) const override;
};

inline constexpr RawFileTypeInfo kFileDWGAnalyserTypes[] = {
    {FileDWGAnalyser::kTypeId, "DWG", "AutoCAD Drawing file"},
};
inline constexpr AnalyserDescriptor kFileDWGAnalyserDescriptor{
    "FileDWGAnalyser", FileDWGAnalyser::kTypeId, kFileDWGAnalyserTypes, {},
    &NewAnalyser<FileDWGAnalyser>};
