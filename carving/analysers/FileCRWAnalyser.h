#pragma once
// Canon CRW raw photos: sized by finding the camera description record of the heap.
#include "carving/analysers/RawFileAnalyser.h"

// The bytes its MatchHeader needs (see SignatureKey).
inline constexpr SignatureKey kFileCRWAnalyserKeys[] = {
    {0, 2, {0x49, 0x49}},
};

class FileCRWAnalyser : public IRawFileAnalyser {
public:
    static constexpr int kTypeId = 16;
    // Where the search for the camera record gives up; also the size when it is not found.
    static constexpr std::uint64_t kLimit = 0x1400000;
    FileCRWAnalyser();
    int MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) override;
    int ComputeFileSize(CRawFileInfo* record, IStorageDevice* device) override;
};

inline constexpr RawFileTypeInfo kFileCRWAnalyserTypes[] = {
    {FileCRWAnalyser::kTypeId, "CRW", "Canon Raw graphics file"},
};
inline constexpr AnalyserDescriptor kFileCRWAnalyserDescriptor{
    "FileCRWAnalyser", FileCRWAnalyser::kTypeId, kFileCRWAnalyserTypes, {}, kFileCRWAnalyserKeys,
    &NewAnalyser<FileCRWAnalyser>};

inline FileCRWAnalyser::FileCRWAnalyser() : IRawFileAnalyser(kFileCRWAnalyserDescriptor) {}
