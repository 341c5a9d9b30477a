#pragma once
// ASF (WMA, WMV): the header object, the data object, then index objects.
#include "carving/analysers/RawFileAnalyser.h"

// The bytes its MatchHeader needs (see SignatureKey).
inline constexpr SignatureKey kFileASFAnalyserKeys[] = {
    {0, 2, {0x30, 0x26}},
};

class FileASFAnalyser : public IRawFileAnalyser {
public:
    static constexpr int kTypeId = 6;

    FileASFAnalyser();
    int MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) override;
    int ComputeFileSize(CRawFileInfo* record, IStorageDevice* device) override;
};

inline constexpr RawFileTypeInfo kFileASFAnalyserTypes[] = {
    {FileASFAnalyser::kTypeId, "ASF", "Audio Streaming Format file"},
};
inline constexpr AnalyserDescriptor kFileASFAnalyserDescriptor{
    "FileASFAnalyser", FileASFAnalyser::kTypeId, kFileASFAnalyserTypes, {}, kFileASFAnalyserKeys,
    &NewAnalyser<FileASFAnalyser>, kNestsOwnType};

inline FileASFAnalyser::FileASFAnalyser() : IRawFileAnalyser(kFileASFAnalyserDescriptor) {}
