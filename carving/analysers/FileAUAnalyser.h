#pragma once
// Sun/NeXT audio: ".snd", BE data offset and data size.
#include "carving/analysers/RawFileAnalyser.h"

// The bytes its MatchHeader needs (see SignatureKey).
inline constexpr SignatureKey kFileAUAnalyserKeys[] = {
    {0, 2, {0x2E, 0x73}},
};

class FileAUAnalyser : public IRawFileAnalyser {
public:
    static constexpr int kTypeId = 7;

    FileAUAnalyser();
    int MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) override;
};

inline constexpr RawFileTypeInfo kFileAUAnalyserTypes[] = {
    {FileAUAnalyser::kTypeId, "AU", "AU file"},
};
inline constexpr AnalyserDescriptor kFileAUAnalyserDescriptor{
    "FileAUAnalyser", FileAUAnalyser::kTypeId, kFileAUAnalyserTypes, {}, kFileAUAnalyserKeys,
    &NewAnalyser<FileAUAnalyser>};

inline FileAUAnalyser::FileAUAnalyser() : IRawFileAnalyser(kFileAUAnalyserDescriptor) {}
