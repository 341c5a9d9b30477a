#pragma once
// Outlook Express mail folders: one of four class ids (or the older "JMF6" prefix) at the start
// and the file size in the header.
#include "carving/analysers/RawFileAnalyser.h"

class FileDBXAnalyser : public IRawFileAnalyser {
public:
    static constexpr int kTypeId = 19;

    FileDBXAnalyser() : IRawFileAnalyser(kTypeId) {}
    int MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) override;
    bool GetSignatureKeys(std::vector<SignatureKey>& keys) const override;
};

inline constexpr RawFileTypeInfo kFileDBXAnalyserTypes[] = {
    {FileDBXAnalyser::kTypeId, "DBX", "Outlook Express Email file"},
};
inline constexpr AnalyserDescriptor kFileDBXAnalyserDescriptor{
    "FileDBXAnalyser", FileDBXAnalyser::kTypeId, kFileDBXAnalyserTypes, {},
    &NewAnalyser<FileDBXAnalyser>};
