#pragma once
// A partition that the lost-partition search recognised: where it starts, how long it is, its
// file system and label, and a sector window over it on the searched disk.
#include "storage/BasicPartitionDevice.h"
#include "storage/FileSystemType.h"

#include <cstdint>
#include <memory>

struct FoundPartitionInfo {
    std::uint64_t u64FirstSector = 0;
    // Never runs past the end of the searched disk.
    std::uint64_t u64SectorCount = 0;
    FileSystemType fileSystemType = FILESYSTEM_UNKNOWN;
    // NUL-terminated UTF-8; empty when the label could not be read.
    char szVolumeLabel[100] = {};
    // The window over the partition, owned by the record. A record handed to
    // IPartitionSearchCallback::OnPartitionFound is const; the callback's copy takes the window
    // over through TakeCopy (whatever is left behind is freed with the search's next candidate).
    mutable std::unique_ptr<CBasicPartitionDevice> pDevice;
    std::uint32_t u32Reserved = 0;

    FoundPartitionInfo() = default;
    FoundPartitionInfo(FoundPartitionInfo&&) = default;
    FoundPartitionInfo& operator=(FoundPartitionInfo&&) = default;

    // A copy of every field that takes the partition device over from this record.
    FoundPartitionInfo TakeCopy() const;
    // Back to the state of a new record (type unknown, no label, no device).
    void Clear();
    void SetLabel(const char* text);
};
