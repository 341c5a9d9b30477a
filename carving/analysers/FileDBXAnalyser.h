#pragma once
// Outlook Express mail folders: one of four class ids (or the older "JMF6" prefix) at the start
// and the file size in the header.
#include "carving/analysers/RawFileAnalyser.h"

// The bytes its MatchHeader needs (see SignatureKey).
inline constexpr SignatureKey kFileDBXAnalyserKeys[] = {
    {0, 2, {0xCF, 0xAD}},
    {0, 2, {0x4A, 0x4D}},
};

class FileDBXAnalyser : public IRawFileAnalyser {
public:
    static constexpr int kTypeId = 19;

    FileDBXAnalyser();
    int MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) override;
};

inline constexpr RawFileTypeInfo kFileDBXAnalyserTypes[] = {
    {FileDBXAnalyser::kTypeId, "DBX", "Outlook Express Email file"},
};
inline constexpr AnalyserDescriptor kFileDBXAnalyserDescriptor{
    "FileDBXAnalyser", FileDBXAnalyser::kTypeId, kFileDBXAnalyserTypes, {}, kFileDBXAnalyserKeys,
    &NewAnalyser<FileDBXAnalyser>};

inline FileDBXAnalyser::FileDBXAnalyser() : IRawFileAnalyser(kFileDBXAnalyserDescriptor) {}
