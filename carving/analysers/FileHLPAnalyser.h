#pragma once
// Windows help files: the 3F 5F 03 00 magic, the directory's start and the file size.
#include "carving/analysers/RawFileAnalyser.h"

// The bytes its MatchHeader needs (see SignatureKey).
inline constexpr SignatureKey kFileHLPAnalyserKeys[] = {
    {0, 2, {0x3F, 0x5F}},
};

class FileHLPAnalyser : public IRawFileAnalyser {
public:
    static constexpr int kTypeId = 30;

    FileHLPAnalyser();
    int MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) override;
};

inline constexpr RawFileTypeInfo kFileHLPAnalyserTypes[] = {
    {FileHLPAnalyser::kTypeId, "HLP", "Help file"},
};
inline constexpr AnalyserDescriptor kFileHLPAnalyserDescriptor{
    "FileHLPAnalyser", FileHLPAnalyser::kTypeId, kFileHLPAnalyserTypes, {}, kFileHLPAnalyserKeys,
    &NewAnalyser<FileHLPAnalyser>};

inline FileHLPAnalyser::FileHLPAnalyser() : IRawFileAnalyser(kFileHLPAnalyserDescriptor) {}
