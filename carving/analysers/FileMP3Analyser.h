#pragma once
// MP3 with an ID3v2 tag: the tag, MPEG audio frames, an optional ID3v1 trailer.
#include "carving/analysers/RawFileAnalyser.h"

class FileMP3Analyser : public IRawFileAnalyser {
public:
    static constexpr int kTypeId = 41;

    FileMP3Analyser() : IRawFileAnalyser(kTypeId) {}
    int MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) override;
    int ComputeFileSize(CRawFileInfo* record, IStorageDevice* device) override;
    bool GetSignatureKeys(std::vector<SignatureKey>& keys) const override;
};

inline constexpr RawFileTypeInfo kFileMP3AnalyserTypes[] = {
    {FileMP3Analyser::kTypeId, "MP3", "MP3 Music file"},
};
inline constexpr AnalyserDescriptor kFileMP3AnalyserDescriptor{
    "FileMP3Analyser", FileMP3Analyser::kTypeId, kFileMP3AnalyserTypes, {},
    &NewAnalyser<FileMP3Analyser>};
