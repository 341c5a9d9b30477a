// Feeds arbitrary bytes, seen as a small disk, to the partition-table readers.
#include "fuzz/SpanDevice.h"
#include "storage/PartitionTable.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 64 * 1024)
        return 0;
    SpanDevice disk(data, size);
    PartitionList list;
    IsDynamicDisk(&disk);
    if (IsGptDisk(&disk))
        ReadGptPartitions(&disk, list);
    ReadWholeDiskVolume(&disk, list);
    ReadMbrPartitions(&disk, list);
    for (const auto& entry : list) {
        if (entry->u64FirstSector >= disk.GetSectorCount() ||
            entry->u64SectorCount > disk.GetSectorCount() - entry->u64FirstSector)
            __builtin_trap();
    }
    return 0;
}
