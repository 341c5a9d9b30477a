#pragma once
// Windows help files: the 3F 5F 03 00 magic, the directory's start and the file size.
#include "carving/analysers/RawFileAnalyser.h"

class FileHLPAnalyser : public IRawFileAnalyser {
public:
    static constexpr int kTypeId = 30;

    FileHLPAnalyser() : IRawFileAnalyser(kTypeId) {}
    int MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) override;
    bool GetSignatureKeys(std::vector<SignatureKey>& keys) const override;
};

inline constexpr RawFileTypeInfo kFileHLPAnalyserTypes[] = {
    {FileHLPAnalyser::kTypeId, "HLP", "Help file"},
};
inline constexpr AnalyserDescriptor kFileHLPAnalyserDescriptor{
    "FileHLPAnalyser", FileHLPAnalyser::kTypeId, kFileHLPAnalyserTypes, {},
    &NewAnalyser<FileHLPAnalyser>};
