#pragma once
// RAR: the marker block, then blocks of RAR 1.5 to 4.x (or of RAR 5, behind its own
// eight-byte marker) up to the end-of-archive block.
#include "carving/analysers/RawFileAnalyser.h"

class FileRARAnalyser : public IRawFileAnalyser {
public:
    static constexpr int kTypeId = 54;

    FileRARAnalyser() : IRawFileAnalyser(kTypeId) {}
    int MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) override;
    int ComputeFileSize(CRawFileInfo* record, IStorageDevice* device) override;
    bool GetSignatureKeys(std::vector<SignatureKey>& keys) const override;
};

inline constexpr RawFileTypeInfo kFileRARAnalyserTypes[] = {
    {FileRARAnalyser::kTypeId, "RAR", "RAR compression file"},
};
inline constexpr AnalyserDescriptor kFileRARAnalyserDescriptor{
    "FileRARAnalyser", FileRARAnalyser::kTypeId, kFileRARAnalyserTypes, {},
    &NewAnalyser<FileRARAnalyser>};
