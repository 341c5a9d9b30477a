#pragma once
// Outlook mail stores: the "!BDN" header; the root structure holds the end of the file at an
// offset that depends on the store's format (ANSI or Unicode).
#include "carving/analysers/RawFileAnalyser.h"

// The bytes its MatchHeader needs (see SignatureKey).
inline constexpr SignatureKey kFilePSTAnalyserKeys[] = {
    {0, 2, {0x21, 0x42}},
};

class FilePSTAnalyser : public IRawFileAnalyser {
public:
    static constexpr int kTypeId = 52;
    static constexpr std::uint64_t kUnknownFormatSize = 0x100000;
    FilePSTAnalyser();
    int MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) override;
};

inline constexpr RawFileTypeInfo kFilePSTAnalyserTypes[] = {
    {FilePSTAnalyser::kTypeId, "PST", "Outlook Email file"},
};
inline constexpr AnalyserDescriptor kFilePSTAnalyserDescriptor{
    "FilePSTAnalyser", FilePSTAnalyser::kTypeId, kFilePSTAnalyserTypes, {}, kFilePSTAnalyserKeys,
    &NewAnalyser<FilePSTAnalyser>};

inline FilePSTAnalyser::FilePSTAnalyser() : IRawFileAnalyser(kFilePSTAnalyserDescriptor) {}
