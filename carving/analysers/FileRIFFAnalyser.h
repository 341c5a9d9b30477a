#pragma once
// RIFF: "RIFF", the size of what follows, the form. Tells WAV, AVI, ANI, CMX, CLK, CSL and
// CDR apart by the form and the first chunk.
#include "carving/analysers/RawFileAnalyser.h"

// The bytes its MatchHeader needs (see SignatureKey).
inline constexpr SignatureKey kFileRIFFAnalyserKeys[] = {
    {0, 2, {0x52, 0x49}},
};

class FileRIFFAnalyser : public IRawFileAnalyser {
public:
    static constexpr int kTypeId = 55;

    FileRIFFAnalyser();
    int MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) override;
};

inline constexpr RawFileTypeInfo kFileRIFFAnalyserTypes[] = {
    {4, "ANI", "ANI file"},
    {8, "AVI", "Audio Video Interleave file"},
    {11, "CDR", "COREL Darw file"},
    {13, "CLK", "Corel Draw Corel RAVE Image file"},
    {14, "CMX", "Corel Draw Vector Image file"},
    {17, "CSL", "CSL file"},
    {FileRIFFAnalyser::kTypeId, "RIFF", "RIFF Multimedia file"},
    {63, "WAV", "WAVE Multimedia file"},
};
inline constexpr AnalyserDescriptor kFileRIFFAnalyserDescriptor{
    "FileRIFFAnalyser", FileRIFFAnalyser::kTypeId, kFileRIFFAnalyserTypes, {}, kFileRIFFAnalyserKeys,
    &NewAnalyser<FileRIFFAnalyser>, kNestsOwnType};

inline FileRIFFAnalyser::FileRIFFAnalyser() : IRawFileAnalyser(kFileRIFFAnalyserDescriptor) {}
