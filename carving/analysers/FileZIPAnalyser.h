#pragma once
// ZIP: local file headers, each followed by its data (and a data descriptor when the
// header could not give the sizes), the central directory, ZIP64 end records, the end record.
#include "carving/analysers/RawFileAnalyser.h"

class FileZIPAnalyser : public IRawFileAnalyser {
public:
    static constexpr int kTypeId = 68;

    FileZIPAnalyser() : IRawFileAnalyser(kTypeId) {}
    int MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) override;
    int ComputeFileSize(CRawFileInfo* record, IStorageDevice* device) override;
    bool GetSignatureKeys(std::vector<SignatureKey>& keys) const override;
};

inline constexpr RawFileTypeInfo kFileZIPAnalyserTypes[] = {
    {FileZIPAnalyser::kTypeId, "ZIP", "Zip compression file"},
};
inline constexpr AnalyserDescriptor kFileZIPAnalyserDescriptor{
    "FileZIPAnalyser", FileZIPAnalyser::kTypeId, kFileZIPAnalyserTypes, {},
    &NewAnalyser<FileZIPAnalyser>};
