#pragma once
// 3D Studio meshes: a main chunk (4D 4D) whose length is the file size.
#include "carving/analysers/RawFileAnalyser.h"

// The bytes its MatchHeader needs (see SignatureKey).
inline constexpr SignatureKey kFile3DSAnalyserKeys[] = {
    {0, 2, {0x4D, 0x4D}},
};

class File3DSAnalyser : public IRawFileAnalyser {
public:
    static constexpr int kTypeId = 1;
    File3DSAnalyser();
    int MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) override;
};

inline constexpr RawFileTypeInfo kFile3DSAnalyserTypes[] = {
    {File3DSAnalyser::kTypeId, "3DS", "3DS file"},
};
inline constexpr AnalyserDescriptor kFile3DSAnalyserDescriptor{
    "File3DSAnalyser", File3DSAnalyser::kTypeId, kFile3DSAnalyserTypes, {}, kFile3DSAnalyserKeys,
    &NewAnalyser<File3DSAnalyser>};

inline File3DSAnalyser::File3DSAnalyser() : IRawFileAnalyser(kFile3DSAnalyserDescriptor) {}
