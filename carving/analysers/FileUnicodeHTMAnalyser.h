#pragma once
// HTML in UTF-16 (little-endian, with its byte-order mark).
#include "carving/analysers/RawFileAnalyser.h"

// The bytes its MatchHeader needs (see SignatureKey).
inline constexpr SignatureKey kFileUnicodeHTMAnalyserKeys[] = {
    {0, 2, {0xFF, 0xFE}},
};

class FileUnicodeHTMAnalyser : public IRawFileAnalyser {
public:
    static constexpr int kTypeId = 31;
    static constexpr std::uint64_t kLongestScan = 0x100000;

    FileUnicodeHTMAnalyser();
    int MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) override;
    // The first sector must hold an HTML start ("<HTML>" right behind the mark, or a "<!"
    // declaration, and "<HTML>" within it). The file then ends one character behind the first
    // "</HTML>", at a NUL, FEFF or FFFF unit or a control code that no text holds, or past
    // 1 MiB (or ScanOptions.MaxRawFileSize when smaller).
    int ComputeFileSize(CRawFileInfo* record, IStorageDevice* device) override;
};

inline constexpr std::uint32_t kFileUnicodeHTMAnalyserAlsoFor[] = {31};
inline constexpr AnalyserDescriptor kFileUnicodeHTMAnalyserDescriptor{
    "FileUnicodeHTMAnalyser", FileUnicodeHTMAnalyser::kTypeId, {}, kFileUnicodeHTMAnalyserAlsoFor, kFileUnicodeHTMAnalyserKeys,
    &NewAnalyser<FileUnicodeHTMAnalyser>};

inline FileUnicodeHTMAnalyser::FileUnicodeHTMAnalyser() : IRawFileAnalyser(kFileUnicodeHTMAnalyserDescriptor) {}
