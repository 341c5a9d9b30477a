#pragma once
// Standard MIDI file: the "MThd" chunk, then "MTrk" chunks.
#include "carving/analysers/RawFileAnalyser.h"

// The bytes its MatchHeader needs (see SignatureKey).
inline constexpr SignatureKey kFileMIDAnalyserKeys[] = {
    {0, 2, {0x4D, 0x54}},
};

class FileMIDAnalyser : public IRawFileAnalyser {
public:
    static constexpr int kTypeId = 36;

    FileMIDAnalyser();
    int MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) override;
    int ComputeFileSize(CRawFileInfo* record, IStorageDevice* device) override;
};

inline constexpr RawFileTypeInfo kFileMIDAnalyserTypes[] = {
    {FileMIDAnalyser::kTypeId, "MID", "Musical Instrument Digital Interface file"},
};
inline constexpr AnalyserDescriptor kFileMIDAnalyserDescriptor{
    "FileMIDAnalyser", FileMIDAnalyser::kTypeId, kFileMIDAnalyserTypes, {}, kFileMIDAnalyserKeys,
    &NewAnalyser<FileMIDAnalyser>};

inline FileMIDAnalyser::FileMIDAnalyser() : IRawFileAnalyser(kFileMIDAnalyserDescriptor) {}
