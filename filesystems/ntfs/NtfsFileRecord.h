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

std::uint16_t GetRecordFlags(const std::uint8_t* rec);
bool IsExtensionRecord(const std::uint8_t* rec, std::size_t len);
// The record number stored in the header, or -1 when the header does not carry one.
std::int64_t GetHeaderRecordNumber(const std::uint8_t* rec, std::size_t len);
