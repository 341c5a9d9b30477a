#pragma once
// MFT FILE records: the header, the update-sequence fix-ups and the whole-record check.
#include "filesystems/ntfs/NtfsCommon.h"

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
// the validation walk; `complete` is false when the record holds more than fit.
struct NtfsAttributeIndex {
    static constexpr std::size_t kCapacity = 64;
    std::uint32_t type[kCapacity];
    std::uint32_t offset[kCapacity];
    std::uint32_t count = 0;
    bool complete = false;
};
// ValidateFileRecord that leaves a valid record with its fix-ups applied (*fixupsApplied tells
// whether there were any) and its attributes listed in `index`. An invalid record is left as
// it was.
bool ValidateAndFixFileRecord(std::uint8_t* rec, std::size_t len, bool* fixupsApplied, NtfsAttributeIndex* index);

std::uint16_t GetRecordFlags(const std::uint8_t* rec);
bool IsExtensionRecord(const std::uint8_t* rec, std::size_t len);
// The record number stored in the header, or -1 when the header does not carry one.
std::int64_t GetHeaderRecordNumber(const std::uint8_t* rec, std::size_t len);
