#pragma once
// Outlook mail stores: the "!BDN" header; the root structure holds the end of the file at an
// offset that depends on the store's format (ANSI or Unicode).
#include "carving/analysers/RawFileAnalyser.h"

class FilePSTAnalyser : public IRawFileAnalyser {
public:
    static constexpr int kTypeId = 52;
    static constexpr std::uint64_t kUnknownFormatSize = 0x100000;
    FilePSTAnalyser() : IRawFileAnalyser(kTypeId) {}
    int MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) override;
    bool GetSignatureKeys(std::vector<SignatureKey>& keys) const override;
};

inline constexpr RawFileTypeInfo kFilePSTAnalyserTypes[] = {
    {FilePSTAnalyser::kTypeId, "PST", "Outlook Email file"},
};
inline constexpr AnalyserDescriptor kFilePSTAnalyserDescriptor{
    "FilePSTAnalyser", FilePSTAnalyser::kTypeId, kFilePSTAnalyserTypes, {},
    &NewAnalyser<FilePSTAnalyser>};
