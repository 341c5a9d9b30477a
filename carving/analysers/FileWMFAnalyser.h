#pragma once
// Windows metafiles, plain or behind a 22-byte placeable header: the standard header holds
// the size in 16-bit words.
#include "carving/analysers/RawFileAnalyser.h"

// The bytes its MatchHeader needs (see SignatureKey).
inline constexpr SignatureKey kFileWMFAnalyserKeys[] = {
    {0, 2, {0x01, 0x00}},
    {0, 2, {0xD7, 0xCD}},
};

class FileWMFAnalyser : public IRawFileAnalyser {
public:
    static constexpr int kTypeId = 66;
    FileWMFAnalyser();
    int MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) override;
};

inline constexpr RawFileTypeInfo kFileWMFAnalyserTypes[] = {
    {FileWMFAnalyser::kTypeId, "WMF", "WMF Multimedia file"},
};
inline constexpr AnalyserDescriptor kFileWMFAnalyserDescriptor{
    "FileWMFAnalyser", FileWMFAnalyser::kTypeId, kFileWMFAnalyserTypes, {}, kFileWMFAnalyserKeys,
    &NewAnalyser<FileWMFAnalyser>};

inline FileWMFAnalyser::FileWMFAnalyser() : IRawFileAnalyser(kFileWMFAnalyserDescriptor) {}
