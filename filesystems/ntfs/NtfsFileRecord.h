#pragma once
// MFT FILE records: the header, the update-sequence fix-ups and the whole-record check.
#include "filesystems/ntfs/NtfsAttributes.h"
#include "filesystems/ntfs/NtfsCommon.h"
#include "storage/ByteSpan.h"

#include <cstddef>
#include <cstdint>

// FILE records. `rec` is the record's bytes, `len` how many of them are valid.
bool CheckFileRecordHeader(const std::uint8_t* rec, std::size_t len);
bool VerifyFixups(const std::uint8_t* rec, std::size_t len);
bool ApplyFixups(std::uint8_t* rec, std::size_t len);
void UndoFixups(std::uint8_t* rec, std::size_t len);
// Header check, then every attribute (with fix-ups applied when they verify); the bytes are as
// before when it returns.
bool ValidateFileRecord(std::uint8_t* rec, std::size_t len);

// The attributes of a record in walk order (the order FindAttribute sees them), as listed by
// the validation walk, which alone fills it; Complete() is false when the record holds more
// than fit.
class NtfsAttributeIndex {
public:
    static constexpr std::size_t kCapacity = 64;
    std::uint32_t Count() const { return m_count; }
    bool Complete() const { return m_complete; }
    std::uint32_t Type(std::uint32_t i) const { return m_type[i]; }
    // The i-th listed attribute of `rec` (the bytes the index was made from, `len` of them);
    // empty past the last one.
    NtfsAttributeView At(const std::uint8_t* rec, std::size_t len, std::uint32_t i) const {
        if (i >= m_count)
            return {};
        const ByteSpan r(rec, len);
        return NtfsAttributeView(r.sub(m_offset[i], r.u32(m_offset[i] + 4)));
    }
    void Clear() {
        m_count = 0;
        m_complete = false;
    }

private:
    friend bool ValidateFileRecord(std::uint8_t* rec, std::size_t len);
    friend bool ValidateAndFixFileRecord(std::uint8_t* rec, std::size_t len, bool* fixupsApplied,
                                         NtfsAttributeIndex* index);
    // Every attribute up to the end marker must be sound, and every name valid; the bytes are
    // looked at as they are (fix-ups applied or not by the caller). Lists them in `index`
    // when there is one.
    static bool Validate(const std::uint8_t* rec, std::size_t len, NtfsAttributeIndex* index);

    std::uint32_t m_type[kCapacity];
    std::uint32_t m_offset[kCapacity];
    std::uint32_t m_count = 0;
    bool m_complete = false;
};
// ValidateFileRecord that leaves a valid record with its fix-ups applied (*fixupsApplied tells
// whether there were any) and its attributes listed in `index`. An invalid record is left as
// it was.
bool ValidateAndFixFileRecord(std::uint8_t* rec, std::size_t len, bool* fixupsApplied, NtfsAttributeIndex* index);

std::uint16_t GetRecordFlags(const std::uint8_t* rec, std::size_t len);
bool IsExtensionRecord(const std::uint8_t* rec, std::size_t len);
// The record number stored in the header, or -1 when the header does not carry one.
std::int64_t GetHeaderRecordNumber(const std::uint8_t* rec, std::size_t len);
