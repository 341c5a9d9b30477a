#pragma once
// WordPerfect 6 to 8 files: the FF "WPC" prefix, a product and file-type word that tells
// documents, graphics and presentations apart, and the file size in the header.
#include "carving/analysers/RawFileAnalyser.h"

class FileWPDAnalyser : public IRawFileAnalyser {
public:
    static constexpr int kTypeId = 64;

    FileWPDAnalyser() : IRawFileAnalyser(kTypeId) {}
    int MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) override;
    bool GetSignatureKeys(std::vector<SignatureKey>& keys) const override;
};

inline constexpr std::uint32_t kFileWPDAnalyserAlsoFor[] = {57, 64, 65};
inline constexpr AnalyserDescriptor kFileWPDAnalyserDescriptor{
    "FileWPDAnalyser", FileWPDAnalyser::kTypeId, {}, kFileWPDAnalyserAlsoFor,
    &NewAnalyser<FileWPDAnalyser>};
