#pragma once
// Analysers with made-up signatures for the registry, index and search tests.
#include "carving/analysers/RawFileAnalyser.h"

#include <cstring>
#include <stdexcept>
#include <string>

namespace carvingtest {

// Accepts a sector holding `signature` at `offset` (optionally without regard to case); writes
// `fileType` and, when `headerSize` is set, that size. Sizes files of `fixedSize` bytes when
// asked (0: leaves the size).
class SigAnalyser : public IRawFileAnalyser {
public:
    SigAnalyser(int typeId, std::uint16_t offset, std::string signature, bool noCase = false,
                std::uint32_t fileType = 0, std::uint64_t headerSize = 0, bool keyed = true)
        : IRawFileAnalyser(typeId), m_offset(offset), m_sig(std::move(signature)),
          m_noCase(noCase), m_fileType(fileType ? fileType : static_cast<std::uint32_t>(typeId)),
          m_headerSize(headerSize), m_keyed(keyed) {}

    int MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) override {
        for (std::size_t i = 0; i < m_sig.size(); ++i) {
            int a = sector[m_offset + i], b = static_cast<unsigned char>(m_sig[i]);
            if (m_noCase) {
                a = std::tolower(a);
                b = std::tolower(b);
            }
            if (a != b) {
                record->m_u32FileType = 999; // a rejected match that scribbles on the record
                return 0;
            }
        }
        record->m_u32FileType = m_fileType;
        record->m_u64Size = m_headerSize;
        return 1;
    }
    int ComputeFileSize(CRawFileInfo* record, IStorageDevice* device) override {
        (void)device;
        if (fixedSize)
            record->m_u64Size = fixedSize;
        return 1;
    }
    bool GetSignatureKeys(std::vector<SignatureKey>& keys) const override {
        if (!m_keyed)
            return false;
        if (m_noCase)
            AddSignatureKeyNoCase(keys, m_offset, m_sig.data(), m_sig.size());
        else
            AddSignatureKey(keys, m_offset, m_sig.data(), m_sig.size());
        return true;
    }
    // Distinct objects unless they carry the same signature.
    bool IsInterchangeableWith(const IRawFileAnalyser& other) const override {
        auto* o = dynamic_cast<const SigAnalyser*>(&other);
        return o && o->m_offset == m_offset && o->m_sig == m_sig && o->m_noCase == m_noCase &&
               o->m_fileType == m_fileType && o->m_headerSize == m_headerSize &&
               o->GetTypeId() == GetTypeId();
    }

    std::uint64_t fixedSize = 0;

private:
    std::uint16_t m_offset;
    std::string m_sig;
    bool m_noCase;
    std::uint32_t m_fileType;
    std::uint64_t m_headerSize;
    bool m_keyed;
};

// Throws for sectors starting with 'T'; never matches.
class ThrowingAnalyser : public IRawFileAnalyser {
public:
    ThrowingAnalyser() : IRawFileAnalyser(77) {}
    int MatchHeader(const std::uint8_t* sector, CRawFileInfo*) override {
        if (sector[0] == 'T')
            throw std::runtime_error("bad sector");
        return 0;
    }
};

} // namespace carvingtest
