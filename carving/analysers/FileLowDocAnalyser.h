#pragma once
// Word for Windows 1 and 2 documents (before compound files): the header gives the text's end
// and the length of what follows it, which the file rounds up to whole 512-byte pages.
#include "carving/analysers/RawFileAnalyser.h"

// The bytes its MatchHeader needs (see SignatureKey).
inline constexpr SignatureKey kFileLowDocAnalyserKeys[] = {
    {0, 2, {0xDB, 0xA5}},
    {0, 2, {0x94, 0xA6}},
};

class FileLowDocAnalyser : public IRawFileAnalyser {
public:
    static constexpr int kTypeId = 21;

    FileLowDocAnalyser();
    int MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) override;
};

inline constexpr std::uint32_t kFileLowDocAnalyserAlsoFor[] = {21};
inline constexpr AnalyserDescriptor kFileLowDocAnalyserDescriptor{
    "FileLowDocAnalyser", FileLowDocAnalyser::kTypeId, {}, kFileLowDocAnalyserAlsoFor, kFileLowDocAnalyserKeys,
    &NewAnalyser<FileLowDocAnalyser>};

inline FileLowDocAnalyser::FileLowDocAnalyser() : IRawFileAnalyser(kFileLowDocAnalyserDescriptor) {}
