#pragma once
// OneNote sections: a fixed file-type GUID at the start; the size is not in the first sector,
// so a fixed extent is recovered.
#include "carving/analysers/RawFileAnalyser.h"

class FileONEAnalyser : public IRawFileAnalyser {
public:
    static constexpr int kTypeId = 45;
    static constexpr std::uint64_t kFixedSize = 0x100000;
    FileONEAnalyser() : IRawFileAnalyser(kTypeId) {}
    int MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) override;
    bool GetSignatureKeys(std::vector<SignatureKey>& keys) const override;
};

inline constexpr RawFileTypeInfo kFileONEAnalyserTypes[] = {
    {3, "ADP", "Access Project file"},
    {FileONEAnalyser::kTypeId, "ONE", "Microsoft OneNote file"},
};
inline constexpr AnalyserDescriptor kFileONEAnalyserDescriptor{
    "FileONEAnalyser", FileONEAnalyser::kTypeId, kFileONEAnalyserTypes, {},
    &NewAnalyser<FileONEAnalyser>};
