#pragma once
// Enhanced metafiles: the header record names the file size.
#include "carving/analysers/RawFileAnalyser.h"

class FileEMFAnalyser : public IRawFileAnalyser {
public:
    static constexpr int kTypeId = 24;
    FileEMFAnalyser() : IRawFileAnalyser(kTypeId) {}
    int MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) override;
    bool GetSignatureKeys(std::vector<SignatureKey>& keys) const override;
};

inline constexpr RawFileTypeInfo kFileEMFAnalyserTypes[] = {
    {FileEMFAnalyser::kTypeId, "EMF", "Enhanced Metafile"},
};
inline constexpr AnalyserDescriptor kFileEMFAnalyserDescriptor{
    "FileEMFAnalyser", FileEMFAnalyser::kTypeId, kFileEMFAnalyserTypes, {},
    &NewAnalyser<FileEMFAnalyser>};
