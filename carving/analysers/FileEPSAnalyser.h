#pragma once
// Encapsulated PostScript: the binary DOS header (C5 D0 D3 C6), which places the PostScript
// section and its previews, or plain text whose first line is "%!PS-Adobe-" with " EPSF-",
// which ends behind its last "%%EOF" line.
#include "carving/analysers/RawFileAnalyser.h"

// The bytes its MatchHeader needs (see SignatureKey).
inline constexpr SignatureKey kFileEPSAnalyserKeys[] = {
    {0, 2, {0xC5, 0xD0}},
    {0, 2, {0x25, 0x21}},
};

class FileEPSAnalyser : public IRawFileAnalyser {
public:
    static constexpr int kTypeId = 25;
    FileEPSAnalyser();
    // The binary form is sized by its header; the text form is left to ComputeFileSize.
    int MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) override;
    // The text form: scans up to ScanOptions.MaxRawFileSize for lines that are "%%EOF". Each
    // ends the file with its line end unless the three bytes behind it are text (a file that
    // embeds others goes on); the scan also stops at the limit or where the bytes run out,
    // and the file then ends behind the last such line.
    int ComputeFileSize(CRawFileInfo* record, IStorageDevice* device) override;
};

inline constexpr RawFileTypeInfo kFileEPSAnalyserTypes[] = {
    {FileEPSAnalyser::kTypeId, "EPS", "Encapsulated Postscript file"},
};
inline constexpr AnalyserDescriptor kFileEPSAnalyserDescriptor{
    "FileEPSAnalyser", FileEPSAnalyser::kTypeId, kFileEPSAnalyserTypes, {}, kFileEPSAnalyserKeys,
    &NewAnalyser<FileEPSAnalyser>};

inline FileEPSAnalyser::FileEPSAnalyser() : IRawFileAnalyser(kFileEPSAnalyserDescriptor) {}
