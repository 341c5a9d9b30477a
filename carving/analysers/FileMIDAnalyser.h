#pragma once
// Standard MIDI file: the "MThd" chunk, then "MTrk" chunks.
#include "carving/analysers/RawFileAnalyser.h"

class FileMIDAnalyser : public IRawFileAnalyser {
public:
    static constexpr int kTypeId = 36;

    FileMIDAnalyser() : IRawFileAnalyser(kTypeId) {}
    int MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) override;
    int ComputeFileSize(CRawFileInfo* record, IStorageDevice* device) override;
    bool GetSignatureKeys(std::vector<SignatureKey>& keys) const override;
};

inline constexpr RawFileTypeInfo kFileMIDAnalyserTypes[] = {
    {FileMIDAnalyser::kTypeId, "MID", "Musical Instrument Digital Interface file"},
};
inline constexpr AnalyserDescriptor kFileMIDAnalyserDescriptor{
    "FileMIDAnalyser", FileMIDAnalyser::kTypeId, kFileMIDAnalyserTypes, {},
    &NewAnalyser<FileMIDAnalyser>};
