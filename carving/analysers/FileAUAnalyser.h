#pragma once
// Sun/NeXT audio: ".snd", BE data offset and data size.
#include "carving/analysers/RawFileAnalyser.h"

class FileAUAnalyser : public IRawFileAnalyser {
public:
    static constexpr int kTypeId = 7;

    FileAUAnalyser() : IRawFileAnalyser(kTypeId) {}
    int MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) override;
    bool GetSignatureKeys(std::vector<SignatureKey>& keys) const override;
};

inline constexpr RawFileTypeInfo kFileAUAnalyserTypes[] = {
    {FileAUAnalyser::kTypeId, "AU", "AU file"},
};
inline constexpr AnalyserDescriptor kFileAUAnalyserDescriptor{
    "FileAUAnalyser", FileAUAnalyser::kTypeId, kFileAUAnalyserTypes, {},
    &NewAnalyser<FileAUAnalyser>};
