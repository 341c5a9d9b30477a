#pragma once
// Photoshop images ("8BPS", version 1): sized by walking the colour-mode, resource and layer
// sections to the image data.
#include "carving/analysers/RawFileAnalyser.h"

class FilePSDAnalyser : public IRawFileAnalyser {
public:
    static constexpr int kTypeId = 50;
    FilePSDAnalyser() : IRawFileAnalyser(kTypeId) {}
    int MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) override;
    int ComputeFileSize(CRawFileInfo* record, IStorageDevice* device) override;
    bool GetSignatureKeys(std::vector<SignatureKey>& keys) const override;
};

inline constexpr RawFileTypeInfo kFilePSDAnalyserTypes[] = {
    {FilePSDAnalyser::kTypeId, "PSD", "Adobe Photoshop file"},
};
inline constexpr AnalyserDescriptor kFilePSDAnalyserDescriptor{
    "FilePSDAnalyser", FilePSDAnalyser::kTypeId, kFilePSDAnalyserTypes, {},
    &NewAnalyser<FilePSDAnalyser>};
