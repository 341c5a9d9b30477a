#pragma once
// ZIP: local file headers, each followed by its data (and a data descriptor when the
// header could not give the sizes), the central directory, ZIP64 end records, the end record.
#include "carving/analysers/RawFileAnalyser.h"

// The bytes its MatchHeader needs (see SignatureKey).
inline constexpr SignatureKey kFileZIPAnalyserKeys[] = {
    {0, 2, {0x50, 0x4B}},
};

class FileZIPAnalyser : public IRawFileAnalyser {
public:
    static constexpr int kTypeId = 68;

    FileZIPAnalyser();
    int MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) override;
    int ComputeFileSize(CRawFileInfo* record, IStorageDevice* device) override;
};

inline constexpr RawFileTypeInfo kFileZIPAnalyserTypes[] = {
    {FileZIPAnalyser::kTypeId, "ZIP", "Zip compression file"},
};
inline constexpr AnalyserDescriptor kFileZIPAnalyserDescriptor{
    "FileZIPAnalyser", FileZIPAnalyser::kTypeId, kFileZIPAnalyserTypes, {}, kFileZIPAnalyserKeys,
    &NewAnalyser<FileZIPAnalyser>, kNestsOwnType};

inline FileZIPAnalyser::FileZIPAnalyser() : IRawFileAnalyser(kFileZIPAnalyserDescriptor) {}
