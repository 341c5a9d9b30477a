// Boot-sector and directory-sector classification, entry names, table validation and the
// volume-label walk over arbitrary bytes.
#include "fuzz/SpanDevice.h"
#include "filesystems/fat/FatStructures.h"
#include "filesystems/fat/FatTables.h"
#include "filesystems/fat/FatVolumeLabel.h"

#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Every 512-byte sector of the input.
    for (std::size_t off = 0; off + 512 <= size; off += 512) {
        const std::uint8_t* s = data + off;
        CFATDBR dbr(s, 512);
        (void)dbr.GetTotalSectors();
        (void)dbr.GetRootDirSectors();
        (void)HasBootSignature(s, 512);
        (void)IsFATTableStart(s, 512);
        DirectorySectorInfo info;
        (void)ClassifyDirectorySector(s, 512, info);
        (void)ClassifyDirectorySector(s, 512, info, FatEntryChecks{false, false});
    }
    // Entries and their names.
    for (std::size_t off = 0; off + 32 <= size; off += 32) {
        FatDirEntry e(data + off);
        (void)e.IsValid(true);
        (void)e.GetShortName(false);
        std::string part;
        if (e.IsLongNameEntry())
            (void)e.GetLongNamePart(part);
    }
    // The input as the start of a table of each width (the rest zero).
    {
        std::vector<std::uint8_t> fat(12 * 512, 0);
        std::memcpy(fat.data(), data, std::min(size, fat.size()));
        CFAT12Table t12(fat.data(), fat.size());
        (void)t12.IsValid();
        for (std::uint32_t c = 0; c < 4200; c += 7)
            (void)t12.GetEntry(c);
        CFAT16Table t16(fat.data(), fat.size());
        (void)t16.IsValid();
        std::vector<std::uint8_t> fat32(256 * 512, 0);
        std::memcpy(fat32.data(), data, std::min(size, fat32.size()));
        CFAT32Table t32(fat32.data(), fat32.size());
        (void)t32.IsValid();
    }
    // The input as a volume whose boot sector is its first sector.
    if (size >= 512) {
        CFATDBR dbr(data, 512);
        if (dbr.IsValid()) {
            SpanDevice dev(data, size);
            std::string label;
            (void)ReadFatVolumeLabel(&dev, 0, dbr, label);
        }
    }
    return 0;
}
