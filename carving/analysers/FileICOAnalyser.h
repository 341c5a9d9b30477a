#pragma once
// Windows icons and cursors: a directory of up to 16 images; the directory gives the size.
#include "carving/analysers/RawFileAnalyser.h"

class FileICOAnalyser : public IRawFileAnalyser {
public:
    static constexpr int kTypeId = 32;
    static constexpr int kCursorTypeId = 18;
    FileICOAnalyser() : IRawFileAnalyser(kTypeId) {}
    int MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) override;
    bool GetSignatureKeys(std::vector<SignatureKey>& keys) const override;
};

inline constexpr RawFileTypeInfo kFileICOAnalyserTypes[] = {
    {18, "CUR", "Cursor file"},
    {FileICOAnalyser::kTypeId, "ICO", "Icon file"},
};
inline constexpr AnalyserDescriptor kFileICOAnalyserDescriptor{
    "FileICOAnalyser", FileICOAnalyser::kTypeId, kFileICOAnalyserTypes, {},
    &NewAnalyser<FileICOAnalyser>};
