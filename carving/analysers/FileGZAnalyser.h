#pragma once
// gzip: 1F 8B 08 and a flag byte without reserved bits, then a deflate stream with its 8-byte
// trailer; members may follow each other.
#include "carving/analysers/RawFileAnalyser.h"

class FileGZAnalyser : public IRawFileAnalyser {
public:
    static constexpr int kTypeId = 29;

    FileGZAnalyser() : IRawFileAnalyser(kTypeId) {}
    int MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) override;
    int ComputeFileSize(CRawFileInfo* record, IStorageDevice* device) override;
    bool GetSignatureKeys(std::vector<SignatureKey>& keys) const override;
};

inline constexpr RawFileTypeInfo kFileGZAnalyserTypes[] = {
    {FileGZAnalyser::kTypeId, "GZ", "GZIP compression file"},
};
inline constexpr AnalyserDescriptor kFileGZAnalyserDescriptor{
    "FileGZAnalyser", FileGZAnalyser::kTypeId, kFileGZAnalyserTypes, {},
    &NewAnalyser<FileGZAnalyser>};
