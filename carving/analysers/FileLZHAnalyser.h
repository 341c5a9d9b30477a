#pragma once
// LHA/LZH: a chain of member headers (levels 0 to 3), each followed by its packed data, ended
// by a zero byte.
#include "carving/analysers/RawFileAnalyser.h"

class FileLZHAnalyser : public IRawFileAnalyser {
public:
    static constexpr int kTypeId = 34;

    FileLZHAnalyser() : IRawFileAnalyser(kTypeId) {}
    int MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) override;
    int ComputeFileSize(CRawFileInfo* record, IStorageDevice* device) override;
    bool GetSignatureKeys(std::vector<SignatureKey>& keys) const override;
};

inline constexpr RawFileTypeInfo kFileLZHAnalyserTypes[] = {
    {FileLZHAnalyser::kTypeId, "LZH", "LZH compression file"},
};
inline constexpr AnalyserDescriptor kFileLZHAnalyserDescriptor{
    "FileLZHAnalyser", FileLZHAnalyser::kTypeId, kFileLZHAnalyserTypes, {},
    &NewAnalyser<FileLZHAnalyser>};
