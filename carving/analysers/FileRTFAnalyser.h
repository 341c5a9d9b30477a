#pragma once
// Rich text: "{\rtf" at the start; the file ends at the brace that closes the first one.
#include "carving/analysers/RawFileAnalyser.h"

// The bytes its MatchHeader needs (see SignatureKey).
inline constexpr SignatureKey kFileRTFAnalyserKeys[] = {
    {0, 2, {0x7B, 0x5C}},
};

class FileRTFAnalyser : public IRawFileAnalyser {
public:
    static constexpr int kTypeId = 56;

    FileRTFAnalyser();
    int MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) override;
    // Counts braces (escaped ones too) from byte 6 on. The file ends behind the brace that
    // brings the depth to 0, at the first byte that cannot be text, where the device's bytes
    // run out, or one byte past ScanOptions.MaxRawFileSize.
    int ComputeFileSize(CRawFileInfo* record, IStorageDevice* device) override;
};

inline constexpr RawFileTypeInfo kFileRTFAnalyserTypes[] = {
    {FileRTFAnalyser::kTypeId, "RTF", "Rich Text Document"},
};
inline constexpr AnalyserDescriptor kFileRTFAnalyserDescriptor{
    "FileRTFAnalyser", FileRTFAnalyser::kTypeId, kFileRTFAnalyserTypes, {}, kFileRTFAnalyserKeys,
    &NewAnalyser<FileRTFAnalyser>};

inline FileRTFAnalyser::FileRTFAnalyser() : IRawFileAnalyser(kFileRTFAnalyserDescriptor) {}
