#pragma once
// MP3 with an ID3v2 tag: the tag, MPEG audio frames, an optional ID3v1 trailer.
#include "carving/analysers/RawFileAnalyser.h"

// The bytes its MatchHeader needs (see SignatureKey).
inline constexpr SignatureKey kFileMP3AnalyserKeys[] = {
    {0, 2, {0x49, 0x44}},
};

class FileMP3Analyser : public IRawFileAnalyser {
public:
    static constexpr int kTypeId = 41;

    FileMP3Analyser();
    int MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) override;
    int ComputeFileSize(CRawFileInfo* record, IStorageDevice* device) override;
};

inline constexpr RawFileTypeInfo kFileMP3AnalyserTypes[] = {
    {FileMP3Analyser::kTypeId, "MP3", "MP3 Music file"},
};
inline constexpr AnalyserDescriptor kFileMP3AnalyserDescriptor{
    "FileMP3Analyser", FileMP3Analyser::kTypeId, kFileMP3AnalyserTypes, {}, kFileMP3AnalyserKeys,
    &NewAnalyser<FileMP3Analyser>};

inline FileMP3Analyser::FileMP3Analyser() : IRawFileAnalyser(kFileMP3AnalyserDescriptor) {}
