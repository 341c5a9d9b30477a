#pragma once
// Windows bitmaps: "BM", a 40- or 124-byte info header; the file header holds the size.
#include "carving/analysers/RawFileAnalyser.h"

// The bytes its MatchHeader needs (see SignatureKey).
inline constexpr SignatureKey kFileBMPAnalyserKeys[] = {
    {0, 2, {0x42, 0x4D}},
};

class FileBMPAnalyser : public IRawFileAnalyser {
public:
    static constexpr int kTypeId = 9;
    FileBMPAnalyser();
    int MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) override;
};

inline constexpr RawFileTypeInfo kFileBMPAnalyserTypes[] = {
    {FileBMPAnalyser::kTypeId, "BMP", "Bitmap file"},
};
inline constexpr AnalyserDescriptor kFileBMPAnalyserDescriptor{
    "FileBMPAnalyser", FileBMPAnalyser::kTypeId, kFileBMPAnalyserTypes, {}, kFileBMPAnalyserKeys,
    &NewAnalyser<FileBMPAnalyser>};

inline FileBMPAnalyser::FileBMPAnalyser() : IRawFileAnalyser(kFileBMPAnalyserDescriptor) {}
