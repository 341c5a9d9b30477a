#pragma once
// Windows icons and cursors: a directory of up to 16 images; the directory gives the size.
#include "carving/analysers/RawFileAnalyser.h"

// The bytes its MatchHeader needs (see SignatureKey).
inline constexpr SignatureKey kFileICOAnalyserKeys[] = {
    {2, 2, {0x01, 0x00}},
    {2, 2, {0x02, 0x00}},
};

class FileICOAnalyser : public IRawFileAnalyser {
public:
    static constexpr int kTypeId = 32;
    static constexpr int kCursorTypeId = 18;
    FileICOAnalyser();
    int MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) override;
};

inline constexpr RawFileTypeInfo kFileICOAnalyserTypes[] = {
    {18, "CUR", "Cursor file"},
    {FileICOAnalyser::kTypeId, "ICO", "Icon file"},
};
inline constexpr AnalyserDescriptor kFileICOAnalyserDescriptor{
    "FileICOAnalyser", FileICOAnalyser::kTypeId, kFileICOAnalyserTypes, {}, kFileICOAnalyserKeys,
    &NewAnalyser<FileICOAnalyser>};

inline FileICOAnalyser::FileICOAnalyser() : IRawFileAnalyser(kFileICOAnalyserDescriptor) {}
