#pragma once
// WordPerfect 6 to 8 files: the FF "WPC" prefix, a product and file-type word that tells
// documents, graphics and presentations apart, and the file size in the header.
#include "carving/analysers/RawFileAnalyser.h"

// The bytes its MatchHeader needs (see SignatureKey).
inline constexpr SignatureKey kFileWPDAnalyserKeys[] = {
    {0, 2, {0xFF, 0x57}},
};

class FileWPDAnalyser : public IRawFileAnalyser {
public:
    static constexpr int kTypeId = 64;

    FileWPDAnalyser();
    int MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) override;
};

inline constexpr std::uint32_t kFileWPDAnalyserAlsoFor[] = {57, 64, 65};
inline constexpr AnalyserDescriptor kFileWPDAnalyserDescriptor{
    "FileWPDAnalyser", FileWPDAnalyser::kTypeId, {}, kFileWPDAnalyserAlsoFor, kFileWPDAnalyserKeys,
    &NewAnalyser<FileWPDAnalyser>};

inline FileWPDAnalyser::FileWPDAnalyser() : IRawFileAnalyser(kFileWPDAnalyserDescriptor) {}
