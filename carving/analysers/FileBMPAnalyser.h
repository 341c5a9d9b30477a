#pragma once
// Windows bitmaps: "BM", a 40- or 124-byte info header; the file header holds the size.
#include "carving/analysers/RawFileAnalyser.h"

class FileBMPAnalyser : public IRawFileAnalyser {
public:
    static constexpr int kTypeId = 9;
    FileBMPAnalyser() : IRawFileAnalyser(kTypeId) {}
    int MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) override;
    bool GetSignatureKeys(std::vector<SignatureKey>& keys) const override;
};

inline constexpr RawFileTypeInfo kFileBMPAnalyserTypes[] = {
    {FileBMPAnalyser::kTypeId, "BMP", "Bitmap file"},
};
inline constexpr AnalyserDescriptor kFileBMPAnalyserDescriptor{
    "FileBMPAnalyser", FileBMPAnalyser::kTypeId, kFileBMPAnalyserTypes, {},
    &NewAnalyser<FileBMPAnalyser>};
