#pragma once
// MPEG-4 and 3GPP files: an "ftyp" atom with one of the known brands, then top-level atoms. One
// class serves both; only the brand list and the type differ.
#include "carving/analysers/RawFileAnalyser.h"

// The bytes its MatchHeader needs (see SignatureKey).
inline constexpr SignatureKey kFileMP4AnalyserKeys[] = {
    {4, 2, {0x66, 0x74}},
    {4, 2, {0x66, 0x54}},
    {4, 2, {0x46, 0x74}},
    {4, 2, {0x46, 0x54}},
};

class FileMP4Analyser : public IRawFileAnalyser {
public:
    static constexpr int kTypeId = 42;  // MPEG-4: brands isom, mp42, M4V
    static constexpr int k3GPTypeId = 2; // 3GPP: brands 3gp4, 3g2a
    enum class Brands { Mpeg4, ThreeGpp };

    explicit FileMP4Analyser(Brands brands = Brands::Mpeg4);
    int MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) override;
    int ComputeFileSize(CRawFileInfo* record, IStorageDevice* device) override;
    // Only an analyser of the same brands answers alike.
    bool IsInterchangeableWith(const IRawFileAnalyser& other) const override {
        return IRawFileAnalyser::IsInterchangeableWith(other) && other.GetTypeId() == m_typeId;
    }

private:
    std::span<const char* const> m_brands;
};

inline IRawFileAnalyser* New3GPAnalyser() {
    return new FileMP4Analyser(FileMP4Analyser::Brands::ThreeGpp);
}

inline constexpr RawFileTypeInfo kFileMP4AnalyserTypes[] = {
    {FileMP4Analyser::kTypeId, "MP4", "MP4 Multimedia file"},
};
inline constexpr AnalyserDescriptor kFileMP4AnalyserDescriptor{
    "FileMP4Analyser", FileMP4Analyser::kTypeId, kFileMP4AnalyserTypes, {}, kFileMP4AnalyserKeys,
    &NewAnalyser<FileMP4Analyser>, kNestsOwnType};

inline constexpr RawFileTypeInfo kFile3GPAnalyserTypes[] = {
    {FileMP4Analyser::k3GPTypeId, "3GP", "3GP Multimedia file"},
};
inline constexpr AnalyserDescriptor kFile3GPAnalyserDescriptor{
    "File3GPAnalyser", FileMP4Analyser::k3GPTypeId, kFile3GPAnalyserTypes, {},
    kFileMP4AnalyserKeys, &New3GPAnalyser, kNestsOwnType};
