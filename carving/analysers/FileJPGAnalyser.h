#pragma once
// JPEG (JFIF, Exif or a bare quantisation table first): sized by walking the markers to the
// start of scan, then looking for the end-of-image marker.
#include "carving/analysers/RawFileAnalyser.h"

class FileJPGAnalyser : public IRawFileAnalyser {
public:
    static constexpr int kTypeId = 33;
    FileJPGAnalyser() : IRawFileAnalyser(kTypeId) {}
    int MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) override;
    int ComputeFileSize(CRawFileInfo* record, IStorageDevice* device) override;
    bool GetSignatureKeys(std::vector<SignatureKey>& keys) const override;
};
