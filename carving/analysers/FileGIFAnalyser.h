#pragma once
// GIF 87a and 89a: sized by walking the extension and image blocks to the trailer.
#include "carving/analysers/RawFileAnalyser.h"

// The bytes its MatchHeader needs (see SignatureKey).
inline constexpr SignatureKey kFileGIFAnalyserKeys[] = {
    {0, 2, {0x47, 0x49}},
};

class FileGIFAnalyser : public IRawFileAnalyser {
public:
    static constexpr int kTypeId = 28;
    FileGIFAnalyser();
    int MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) override;
    int ComputeFileSize(CRawFileInfo* record, IStorageDevice* device) override;
};

inline constexpr RawFileTypeInfo kFileGIFAnalyserTypes[] = {
    {FileGIFAnalyser::kTypeId, "GIF", "GIF graphics file"},
};
inline constexpr AnalyserDescriptor kFileGIFAnalyserDescriptor{
    "FileGIFAnalyser", FileGIFAnalyser::kTypeId, kFileGIFAnalyserTypes, {}, kFileGIFAnalyserKeys,
    &NewAnalyser<FileGIFAnalyser>};

inline FileGIFAnalyser::FileGIFAnalyser() : IRawFileAnalyser(kFileGIFAnalyserDescriptor) {}
