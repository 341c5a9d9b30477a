#pragma once
// The system files of a volume and the volume name in the $Volume record (bytes only).
#include "filesystems/ntfs/NtfsCommon.h"

#include <cstddef>
#include <cstdint>

struct NtfsSystemFile {
    std::uint32_t record;
    const char* name;
};
extern const NtfsSystemFile NtfsSystemFiles[15];

// Record number of the system file whose name the first $FILE_NAME has, or -1 (base records only).
int FindSystemFileNumber(const std::uint8_t* rec, std::size_t len);
// Hidden+system in $STANDARD_INFORMATION and the first $FILE_NAME equal to `name`.
bool HasSystemFileName(const std::uint8_t* rec, std::size_t len, const char* name);
bool IsSystemFileRecord(const std::uint8_t* rec, std::size_t len);

// Name of a "$Volume" record into `out` (at most 80 bytes with the terminator). `len` is the
// record size (512 bytes and up; only the first kNtfsMaxVolumeRecordSize bytes are looked at).
constexpr std::size_t kNtfsMaxVolumeRecordSize = 4096;
bool ReadNtfsVolumeName(std::uint8_t* rec, std::size_t len, char out[80]);
