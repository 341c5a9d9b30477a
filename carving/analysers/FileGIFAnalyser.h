#pragma once
// GIF 87a and 89a: sized by walking the extension and image blocks to the trailer.
#include "carving/analysers/RawFileAnalyser.h"

class FileGIFAnalyser : public IRawFileAnalyser {
public:
    static constexpr int kTypeId = 28;
    FileGIFAnalyser() : IRawFileAnalyser(kTypeId) {}
    int MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) override;
    int ComputeFileSize(CRawFileInfo* record, IStorageDevice* device) override;
    bool GetSignatureKeys(std::vector<SignatureKey>& keys) const override;
};

inline constexpr RawFileTypeInfo kFileGIFAnalyserTypes[] = {
    {FileGIFAnalyser::kTypeId, "GIF", "GIF graphics file"},
};
inline constexpr AnalyserDescriptor kFileGIFAnalyserDescriptor{
    "FileGIFAnalyser", FileGIFAnalyser::kTypeId, kFileGIFAnalyserTypes, {},
    &NewAnalyser<FileGIFAnalyser>};
