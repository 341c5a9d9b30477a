#pragma once
// PDF and Illustrator files: "%PDF-" at the start; the size is found by scanning for the
// "%%EOF" that ends the last revision.
#include "carving/analysers/RawFileAnalyser.h"

// The bytes its MatchHeader needs (see SignatureKey).
inline constexpr SignatureKey kFilePDFAnalyserKeys[] = {
    {0, 2, {0x25, 0x50}},
};

class FilePDFAnalyser : public IRawFileAnalyser {
public:
    static constexpr int kTypeId = 46;
    static constexpr std::uint32_t kIllustratorType = 5;

    FilePDFAnalyser();
    int MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) override;
    // Scans from byte 4 up to ScanOptions.MaxRawFileSize. Each "%%EOF" ends the file unless
    // the three bytes behind it are text (an incremental update follows); a "%!PS-Adobe" on
    // the way makes it an Illustrator file, whose "%%EOF" takes a two-byte line end. The scan
    // also ends where the next "%PDF-" starts, at the limit, or where the bytes run out: then
    // the file ends behind the last "%%EOF" seen (at the stop when there was none).
    int ComputeFileSize(CRawFileInfo* record, IStorageDevice* device) override;
};

inline constexpr RawFileTypeInfo kFilePDFAnalyserTypes[] = {
    {5, "AI", "Adobe Illustrator file"},
    {FilePDFAnalyser::kTypeId, "PDF", "Adobe Portable Document"},
};
inline constexpr AnalyserDescriptor kFilePDFAnalyserDescriptor{
    "FilePDFAnalyser", FilePDFAnalyser::kTypeId, kFilePDFAnalyserTypes, {}, kFilePDFAnalyserKeys,
    &NewAnalyser<FilePDFAnalyser>};

inline FilePDFAnalyser::FilePDFAnalyser() : IRawFileAnalyser(kFilePDFAnalyserDescriptor) {}
