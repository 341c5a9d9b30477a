#pragma once
// OneNote sections: a fixed file-type GUID at the start; the size is not in the first sector,
// so a fixed extent is recovered.
#include "carving/analysers/RawFileAnalyser.h"

// The bytes its MatchHeader needs (see SignatureKey).
inline constexpr SignatureKey kFileONEAnalyserKeys[] = {
    {0, 2, {0xE4, 0x52}},
};

class FileONEAnalyser : public IRawFileAnalyser {
public:
    static constexpr int kTypeId = 45;
    static constexpr std::uint64_t kFixedSize = 0x100000;
    FileONEAnalyser();
    int MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) override;
};

inline constexpr RawFileTypeInfo kFileONEAnalyserTypes[] = {
    {3, "ADP", "Access Project file"},
    {FileONEAnalyser::kTypeId, "ONE", "Microsoft OneNote file"},
};
inline constexpr AnalyserDescriptor kFileONEAnalyserDescriptor{
    "FileONEAnalyser", FileONEAnalyser::kTypeId, kFileONEAnalyserTypes, {}, kFileONEAnalyserKeys,
    &NewAnalyser<FileONEAnalyser>};

inline FileONEAnalyser::FileONEAnalyser() : IRawFileAnalyser(kFileONEAnalyserDescriptor) {}
