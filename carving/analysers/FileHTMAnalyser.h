#pragma once
// HTML in an 8-bit encoding: "<HTML>" or "<!DOCTYPE HTML" at the start (any case), or a "<!"
// declaration with "<HTML>" later in the first sector.
#include "carving/analysers/RawFileAnalyser.h"

// The bytes its MatchHeader needs (see SignatureKey).
inline constexpr SignatureKey kFileHTMAnalyserKeys[] = {
    {0, 2, {0x3C, 0x68}},
    {0, 2, {0x3C, 0x48}},
    {0, 2, {0x3C, 0x21}},
};

class FileHTMAnalyser : public IRawFileAnalyser {
public:
    static constexpr int kTypeId = 31;
    static constexpr std::uint64_t kLongestScan = 0x100000;

    FileHTMAnalyser();
    int MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) override;
    // The file ends behind the first "</HTML>" (any case), at the first byte that cannot be
    // text, where the device's bytes run out, or one byte past 1 MiB (or past
    // ScanOptions.MaxRawFileSize when smaller). A file that starts with the UTF-16 byte-order
    // mark (it shares the type id with the UTF-16 analyser) is sized as UTF-16.
    int ComputeFileSize(CRawFileInfo* record, IStorageDevice* device) override;
};

inline constexpr RawFileTypeInfo kFileHTMAnalyserTypes[] = {
    {FileHTMAnalyser::kTypeId, "HTM", "HTML Documents file"},
};
inline constexpr AnalyserDescriptor kFileHTMAnalyserDescriptor{
    "FileHTMAnalyser", FileHTMAnalyser::kTypeId, kFileHTMAnalyserTypes, {}, kFileHTMAnalyserKeys,
    &NewAnalyser<FileHTMAnalyser>};

inline FileHTMAnalyser::FileHTMAnalyser() : IRawFileAnalyser(kFileHTMAnalyserDescriptor) {}
