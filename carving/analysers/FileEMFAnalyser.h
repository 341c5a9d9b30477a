#pragma once
// Enhanced metafiles: the header record names the file size.
#include "carving/analysers/RawFileAnalyser.h"

// The bytes its MatchHeader needs (see SignatureKey).
inline constexpr SignatureKey kFileEMFAnalyserKeys[] = {
    {40, 2, {0x20, 0x45}},
};

class FileEMFAnalyser : public IRawFileAnalyser {
public:
    static constexpr int kTypeId = 24;
    FileEMFAnalyser();
    int MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) override;
};

inline constexpr RawFileTypeInfo kFileEMFAnalyserTypes[] = {
    {FileEMFAnalyser::kTypeId, "EMF", "Enhanced Metafile"},
};
inline constexpr AnalyserDescriptor kFileEMFAnalyserDescriptor{
    "FileEMFAnalyser", FileEMFAnalyser::kTypeId, kFileEMFAnalyserTypes, {}, kFileEMFAnalyserKeys,
    &NewAnalyser<FileEMFAnalyser>};

inline FileEMFAnalyser::FileEMFAnalyser() : IRawFileAnalyser(kFileEMFAnalyserDescriptor) {}
