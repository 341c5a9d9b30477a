#pragma once
// AutoCAD drawings: sized by version, from the section locators (R13 to R2000) or from the
// sentinel that follows the last section (R2004).
#include "carving/analysers/RawFileAnalyser.h"

// The bytes its MatchHeader needs (see SignatureKey).
inline constexpr SignatureKey kFileDWGAnalyserKeys[] = {
    {0, 2, {0x41, 0x43}},
};

class FileDWGAnalyser : public IRawFileAnalyser {
public:
    static constexpr int kTypeId = 22;
    FileDWGAnalyser();
    int MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) override;
    int ComputeFileSize(CRawFileInfo* record, IStorageDevice* device) override;
};

inline constexpr RawFileTypeInfo kFileDWGAnalyserTypes[] = {
    {FileDWGAnalyser::kTypeId, "DWG", "AutoCAD Drawing file"},
};
inline constexpr AnalyserDescriptor kFileDWGAnalyserDescriptor{
    "FileDWGAnalyser", FileDWGAnalyser::kTypeId, kFileDWGAnalyserTypes, {}, kFileDWGAnalyserKeys,
    &NewAnalyser<FileDWGAnalyser>};

inline FileDWGAnalyser::FileDWGAnalyser() : IRawFileAnalyser(kFileDWGAnalyserDescriptor) {}
