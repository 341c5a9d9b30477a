#pragma once
// ASF (WMA, WMV): the header object, the data object, then index objects.
#include "carving/analysers/RawFileAnalyser.h"

class FileASFAnalyser : public IRawFileAnalyser {
public:
    static constexpr int kTypeId = 6;

    FileASFAnalyser() : IRawFileAnalyser(kTypeId) {}
    int MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) override;
    int ComputeFileSize(CRawFileInfo* record, IStorageDevice* device) override;
    bool GetSignatureKeys(std::vector<SignatureKey>& keys) const override;
};

inline constexpr RawFileTypeInfo kFileASFAnalyserTypes[] = {
    {FileASFAnalyser::kTypeId, "ASF", "Audio Streaming Format file"},
};
inline constexpr AnalyserDescriptor kFileASFAnalyserDescriptor{
    "FileASFAnalyser", FileASFAnalyser::kTypeId, kFileASFAnalyserTypes, {},
    &NewAnalyser<FileASFAnalyser>};
