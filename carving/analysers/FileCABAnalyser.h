#pragma once
// Microsoft cabinet: "MSCF" with its reserved fields zero and version 1.3; the header holds
// the cabinet's size.
#include "carving/analysers/RawFileAnalyser.h"

class FileCABAnalyser : public IRawFileAnalyser {
public:
    static constexpr int kTypeId = 10;

    FileCABAnalyser() : IRawFileAnalyser(kTypeId) {}
    int MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) override;
    bool GetSignatureKeys(std::vector<SignatureKey>& keys) const override;
};

inline constexpr RawFileTypeInfo kFileCABAnalyserTypes[] = {
    {FileCABAnalyser::kTypeId, "CAB", "Cabinet file"},
};
inline constexpr AnalyserDescriptor kFileCABAnalyserDescriptor{
    "FileCABAnalyser", FileCABAnalyser::kTypeId, kFileCABAnalyserTypes, {},
    &NewAnalyser<FileCABAnalyser>};
