#pragma once
// Microsoft cabinet: "MSCF" with its reserved fields zero and version 1.3; the header holds
// the cabinet's size.
#include "carving/analysers/RawFileAnalyser.h"

// The bytes its MatchHeader needs (see SignatureKey).
inline constexpr SignatureKey kFileCABAnalyserKeys[] = {
    {0, 2, {0x4D, 0x53}},
};

class FileCABAnalyser : public IRawFileAnalyser {
public:
    static constexpr int kTypeId = 10;

    FileCABAnalyser();
    int MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) override;
};

inline constexpr RawFileTypeInfo kFileCABAnalyserTypes[] = {
    {FileCABAnalyser::kTypeId, "CAB", "Cabinet file"},
};
inline constexpr AnalyserDescriptor kFileCABAnalyserDescriptor{
    "FileCABAnalyser", FileCABAnalyser::kTypeId, kFileCABAnalyserTypes, {}, kFileCABAnalyserKeys,
    &NewAnalyser<FileCABAnalyser>, kNestsOwnType};

inline FileCABAnalyser::FileCABAnalyser() : IRawFileAnalyser(kFileCABAnalyserDescriptor) {}
