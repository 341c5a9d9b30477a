#pragma once
// Photoshop images ("8BPS", version 1): sized by walking the colour-mode, resource and layer
// sections to the image data.
#include "carving/analysers/RawFileAnalyser.h"

// The bytes its MatchHeader needs (see SignatureKey).
inline constexpr SignatureKey kFilePSDAnalyserKeys[] = {
    {0, 2, {0x38, 0x42}},
};

class FilePSDAnalyser : public IRawFileAnalyser {
public:
    static constexpr int kTypeId = 50;
    FilePSDAnalyser();
    int MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) override;
    int ComputeFileSize(CRawFileInfo* record, IStorageDevice* device) override;
};

inline constexpr RawFileTypeInfo kFilePSDAnalyserTypes[] = {
    {FilePSDAnalyser::kTypeId, "PSD", "Adobe Photoshop file"},
};
inline constexpr AnalyserDescriptor kFilePSDAnalyserDescriptor{
    "FilePSDAnalyser", FilePSDAnalyser::kTypeId, kFilePSDAnalyserTypes, {}, kFilePSDAnalyserKeys,
    &NewAnalyser<FilePSDAnalyser>};

inline FilePSDAnalyser::FilePSDAnalyser() : IRawFileAnalyser(kFilePSDAnalyserDescriptor) {}
