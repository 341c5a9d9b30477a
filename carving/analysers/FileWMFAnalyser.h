#pragma once
// Windows metafiles, plain or behind a 22-byte placeable header: the standard header holds
// the size in 16-bit words.
#include "carving/analysers/RawFileAnalyser.h"

class FileWMFAnalyser : public IRawFileAnalyser {
public:
    static constexpr int kTypeId = 66;
    FileWMFAnalyser() : IRawFileAnalyser(kTypeId) {}
    int MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) override;
    bool GetSignatureKeys(std::vector<SignatureKey>& keys) const override;
};

inline constexpr RawFileTypeInfo kFileWMFAnalyserTypes[] = {
    {FileWMFAnalyser::kTypeId, "WMF", "WMF Multimedia file"},
};
inline constexpr AnalyserDescriptor kFileWMFAnalyserDescriptor{
    "FileWMFAnalyser", FileWMFAnalyser::kTypeId, kFileWMFAnalyserTypes, {},
    &NewAnalyser<FileWMFAnalyser>};
