#pragma once
// 3D Studio meshes: a main chunk (4D 4D) whose length is the file size.
#include "carving/analysers/RawFileAnalyser.h"

class File3DSAnalyser : public IRawFileAnalyser {
public:
    static constexpr int kTypeId = 1;
    File3DSAnalyser() : IRawFileAnalyser(kTypeId) {}
    int MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) override;
    bool GetSignatureKeys(std::vector<SignatureKey>& keys) const override;
};

inline constexpr RawFileTypeInfo kFile3DSAnalyserTypes[] = {
    {File3DSAnalyser::kTypeId, "3DS", "3DS file"},
};
inline constexpr AnalyserDescriptor kFile3DSAnalyserDescriptor{
    "File3DSAnalyser", File3DSAnalyser::kTypeId, kFile3DSAnalyserTypes, {},
    &NewAnalyser<File3DSAnalyser>};
