#include "storage/PartitionTable.h"

#include "storage/BasicPartitionDevice.h"
#include "storage/ByteSpan.h"

#include <cstdio>
#include <cstring>
#include <set>
#include <vector>

namespace {

constexpr std::size_t kMbrEntriesOffset = 0x1BE;
constexpr std::size_t kMbrEntrySize = 16;


bool HasBootSignature(const std::uint8_t* sector) {
    return sector[510] == 0x55 && sector[511] == 0xAA;
}

bool ReadOneSector(IStorageDevice* disk, std::uint64_t sector, std::uint8_t* buffer) {
    return disk && disk->ReadSectors(buffer, sector, 1) == 1;
}

// Adds one partition at `first` whose table gives `count` sectors. With `probeMustRecognise`
// (the whole-disk case) the entry is added only when a probe recognises the first sector.
bool AddPartition(IStorageDevice* disk, std::uint64_t first, std::uint64_t count,
                  bool probeMustRecognise, PartitionList& list) {
    const std::uint64_t diskSize = disk->GetSectorCount();
    if (first >= diskSize)
        return false; // a partition that starts at or past the disk end has nothing to read
    const std::uint64_t remaining = diskSize - first;
    if (count == 0 || static_cast<std::int64_t>(count) < 0 || count > remaining)
        count = remaining;

    auto entry = std::make_unique<PartitionEntry>();
    VolumeProbeResult probe;
    if (ProbeVolume(disk, first, probe)) {
        if (probe.totalSectors != 0 && probe.totalSectors < remaining)
            count = probe.totalSectors;
        entry->fileSystemType = probe.fileSystemType;
        std::memcpy(entry->szVolumeLabel, probe.label, kVolumeLabelSize);
    } else if (probeMustRecognise) {
        return false;
    }
    if (count == 0)
        return false;
    entry->u64FirstSector = first;
    entry->u64SectorCount = count;
    entry->pPartitionDevice = std::make_unique<CBasicPartitionDevice>(disk, first, count);
    list.push_back(std::move(entry));
    return true;
}

bool IsExtendedType(std::uint8_t type) {
    return type == kPartitionTypeExtendedChs || type == kPartitionTypeExtendedLba;
}

bool StartsAnyListedPartition(const PartitionList& list, std::uint64_t sector) {
    for (const auto& entry : list) {
        if (entry->u64FirstSector == sector)
            return true;
    }
    return false;
}

// Known GPT partition types; the Linux data type is ours, the rest follow the registered uses.
const char* const kKnownGptTypes[] = {
    "024DEE41-33E7-11D3-9D69-0008C781F39F", // MBR partition scheme
    "C12A7328-F81F-11D2-BA4B-00A0C93EC93B", // EFI system partition
    "E3C9E316-0B5C-4DB8-817D-F92DF00215AE", // Microsoft reserved
    "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7", // basic data
    "5808C8AA-7E8F-42E0-85D2-E1E90434CFB3", // LDM metadata
    "AF9B60A0-1431-4F62-BC68-3311714A69AD", // LDM data
    "75894C1E-3AEB-11D3-B7C1-7B03A0000000", // HP-UX data
    "E2A1E728-32E3-11D6-A682-7B03A0000000", // HP-UX service
    "A19D880F-05FC-4D3B-A006-743F0F84911E", // Linux RAID
    "0657FD6D-A4AB-43C4-84E5-0933C84B4F4F", // Linux swap
    "E6D6D379-F507-44C2-A23C-238F2A3DF928", // Linux LVM
    "8DA63339-0007-60C0-C436-083AC8230908", // Linux reserved
    "0FC63DAF-8483-4772-8E79-3D69D8477DE4", // Linux file-system data
    "516E7CB4-6ECF-11D6-8FF8-00022D09712B", // FreeBSD data
    "516E7CB5-6ECF-11D6-8FF8-00022D09712B", // FreeBSD swap
    "516E7CB6-6ECF-11D6-8FF8-00022D09712B", // FreeBSD UFS
    "516E7CB8-6ECF-11D6-8FF8-00022D09712B", // FreeBSD Vinum
    "48465300-0000-11AA-AA11-00306543ECAC", // Apple HFS+
    "55465300-0000-11AA-AA11-00306543ECAC", // Apple UFS
    "52414944-0000-11AA-AA11-00306543ECAC", // Apple RAID
    "52414944-5F4F-11AA-AA11-00306543ECAC", // Apple RAID offline
    "426F6F74-0000-11AA-AA11-00306543ECAC", // Apple boot
    "4C616265-6C00-11AA-AA11-00306543ECAC", // Apple label
    "5265636F-7665-11AA-AA11-00306543ECAC", // Apple TV recovery
    "6A82CB45-1DD2-11B2-99A6-080020736631", // Solaris boot
    "6A85CF4D-1DD2-11B2-99A6-080020736631", // Solaris root
    "6A87C46F-1DD2-11B2-99A6-080020736631", // Solaris swap
    "6A8B642B-1DD2-11B2-99A6-080020736631", // Solaris backup
    "6A898CC3-1DD2-11B2-99A6-080020736631", // Solaris /usr
    "6A8EF2E9-1DD2-11B2-99A6-080020736631", // Solaris /var
    "6A90BA39-1DD2-11B2-99A6-080020736631", // Solaris /home
    "6A9283A5-1DD2-11B2-99A6-080020736631", // Solaris alternate sector
    "6A945A3B-1DD2-11B2-99A6-080020736631", // Solaris reserved
    "6A9630D1-1DD2-11B2-99A6-080020736631", // Solaris reserved
    "6A980767-1DD2-11B2-99A6-080020736631", // Solaris reserved
    "6A96237F-1DD2-11B2-99A6-080020736631", // Solaris reserved
    "6A8D2AC7-1DD2-11B2-99A6-080020736631", // Solaris reserved
};

} // namespace

PartitionEntry::PartitionEntry() = default;
PartitionEntry::~PartitionEntry() = default;

bool ParseMbrTable(const std::uint8_t* sector, std::size_t size, MbrPartitionRecord entries[4]) {
    for (int i = 0; i < 4; ++i)
        entries[i] = MbrPartitionRecord{};
    if (!sector || size < kSectorSize || !HasBootSignature(sector))
        return false;
    for (int i = 0; i < 4; ++i) {
        const std::uint8_t* raw = sector + kMbrEntriesOffset + i * kMbrEntrySize;
        MbrPartitionRecord& e = entries[i];
        e.bootFlag = raw[0];
        e.type = raw[4];
        const ByteSpan r(raw, kMbrEntrySize);
        e.firstSector = r.u32(8);
        e.sectorCount = r.u32(12);
        e.empty = true;
        for (std::size_t b = 0; b < kMbrEntrySize; ++b)
            e.empty = e.empty && raw[b] == 0;
    }
    for (int i = 0; i < 4; ++i) {
        if (entries[i].bootFlag != 0x00 && entries[i].bootFlag != 0x80)
            return false;
    }
    return true;
}

bool ParseGptEntry(const std::uint8_t* bytes, std::size_t size, GptPartitionRecord& entry) {
    entry = GptPartitionRecord{};
    if (!bytes || size < kGptEntrySize)
        return false;
    std::memcpy(entry.typeGuid, bytes, sizeof(entry.typeGuid));
    const ByteSpan e(bytes, size);
    entry.firstLba = e.u64(32);
    entry.lastLba = e.u64(40);
    return true;
}

std::string FormatGuid(const std::uint8_t g[16]) {
    char text[40];
    std::snprintf(text, sizeof(text), "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X",
                  static_cast<unsigned>(ByteSpan(g, 16).u32(0)), static_cast<unsigned>(ByteSpan(g, 16).u16(4)),
                  static_cast<unsigned>(ByteSpan(g, 16).u16(6)), g[8], g[9], g[10], g[11], g[12], g[13],
                  g[14], g[15]);
    return text;
}

bool IsKnownGptType(const GptPartitionRecord& entry) {
    const std::string text = FormatGuid(entry.typeGuid);
    for (const char* known : kKnownGptTypes) {
        if (text == known)
            return true;
    }
    return false;
}

bool IsGptTypeOf(const GptPartitionRecord& entry, const char* type) {
    return FormatGuid(entry.typeGuid) == type;
}

bool IsNonVolumeGptType(const GptPartitionRecord& entry) {
    return IsGptTypeOf(entry, kGptTypeMicrosoftReserved) || IsGptTypeOf(entry, kGptTypeLdmMetadata) ||
           IsGptTypeOf(entry, kGptTypeLdmData);
}

bool FindGptLdmMetadata(IStorageDevice* disk, GptPartitionRecord* metadata, bool* anyLdm) {
    if (anyLdm)
        *anyLdm = false;
    std::vector<std::uint8_t> array(kGptEntryArraySectors * kSectorSize);
    if (!disk || disk->ReadSectors(array.data(), kGptEntryArraySector, kGptEntryArraySectors) != 1)
        return false;
    bool found = false;
    for (std::size_t i = 0; i < kGptEntryCount; ++i) {
        GptPartitionRecord entry;
        ParseGptEntry(array.data() + i * kGptEntrySize, kGptEntrySize, entry);
        const bool isMetadata = IsGptTypeOf(entry, kGptTypeLdmMetadata);
        if (anyLdm && (isMetadata || IsGptTypeOf(entry, kGptTypeLdmData)))
            *anyLdm = true;
        if (isMetadata && !found) {
            found = true;
            if (metadata)
                *metadata = entry;
        }
    }
    if (anyLdm && !*anyLdm) {
        // Some tools leave the type and keep only the first entry's name.
        static const char kName[] = "LDM metadata partition";
        std::uint8_t expected[64] = {};
        for (std::size_t i = 0; i + 1 < sizeof kName; ++i)
            expected[i * 2] = static_cast<std::uint8_t>(kName[i]);
        *anyLdm = std::memcmp(array.data() + 56, expected, sizeof expected) == 0;
    }
    return found;
}

bool IsDynamicDisk(IStorageDevice* disk) {
    std::uint8_t sector[kSectorSize];
    if (ReadOneSector(disk, 0, sector) && HasBootSignature(sector)) {
        for (int i = 0; i < 4; ++i) {
            if (sector[kMbrEntriesOffset + i * kMbrEntrySize + 4] == kPartitionTypeDynamic)
                return true;
        }
    }
    bool anyLdm = false;
    FindGptLdmMetadata(disk, nullptr, &anyLdm);
    return anyLdm;
}

bool IsGptDisk(IStorageDevice* disk) {
    std::uint8_t sector[kSectorSize];
    return ReadOneSector(disk, 0, sector) && HasBootSignature(sector) &&
           sector[kMbrEntriesOffset + 4] == kPartitionTypeGptProtective;
}

std::size_t ReadGptPartitions(IStorageDevice* disk, PartitionList& list) {
    std::vector<std::uint8_t> array(kGptEntryArraySectors * kSectorSize);
    if (!disk || disk->ReadSectors(array.data(), kGptEntryArraySector, kGptEntryArraySectors) != 1)
        return 0;
    for (std::size_t i = 0; i < kGptEntryCount; ++i) {
        GptPartitionRecord entry;
        ParseGptEntry(array.data() + i * kGptEntrySize, kGptEntrySize, entry);
        if (!IsKnownGptType(entry) || IsNonVolumeGptType(entry))
            continue;
        // Wraps to 0 (meaning "to the disk end") when the last LBA lies before the first.
        const std::uint64_t count = entry.lastLba - entry.firstLba + 1;
        AddPartition(disk, entry.firstLba, count, false, list);
    }
    return list.size();
}

int ReadWholeDiskVolume(IStorageDevice* disk, PartitionList& list) {
    if (!disk)
        return 0;
    return AddPartition(disk, 0, disk->GetSectorCount(), true, list) ? 1 : 0;
}

bool AddPrimaryPartition(IStorageDevice* disk, const MbrPartitionRecord& entry,
                         std::uint64_t baseSector, PartitionList& list) {
    if (!disk)
        return false;
    const std::uint64_t first = baseSector + entry.firstSector;
    if (first < baseSector)
        return false;
    return AddPartition(disk, first, entry.sectorCount, false, list);
}

bool ReadMbrPartitions(IStorageDevice* disk, PartitionList& list) {
    std::uint8_t sector[kSectorSize];
    MbrPartitionRecord entries[4];
    if (!ReadOneSector(disk, 0, sector) || !ParseMbrTable(sector, sizeof(sector), entries))
        return false;
    const std::size_t before = list.size();
    for (const MbrPartitionRecord& entry : entries) {
        if (entry.empty || entry.type == kPartitionTypeDynamic)
            continue;
        if (IsExtendedType(entry.type))
            ReadExtendedPartitions(disk, entry.firstSector, entry.firstSector, list);
        else
            AddPrimaryPartition(disk, entry, 0, list);
    }
    return list.size() > before;
}

bool ReadExtendedPartitions(IStorageDevice* disk, std::uint64_t extendedStart,
                            std::uint64_t ebrSector, PartitionList& list) {
    // Depth first like the chain itself, with an explicit stack: a link is followed at once and
    // the entries after it in the same EBR come afterwards. Every EBR is read once at most and
    // at most kMaxExtendedLinks links are followed, so a damaged chain that loops still ends.
    struct Frame {
        std::uint64_t sector;
        MbrPartitionRecord entries[4];
        int next;
    };
    const std::size_t before = list.size();
    std::set<std::uint64_t> visited;
    std::vector<Frame> stack;
    auto push = [&](std::uint64_t sector) {
        std::uint8_t raw[kSectorSize];
        Frame frame{sector, {}, 0};
        visited.insert(sector);
        if (ReadOneSector(disk, sector, raw) && ParseMbrTable(raw, sizeof(raw), frame.entries))
            stack.push_back(frame);
    };
    push(ebrSector);
    int links = 0;
    while (!stack.empty()) {
        Frame& frame = stack.back();
        if (frame.next == 4) {
            stack.pop_back();
            continue;
        }
        const MbrPartitionRecord entry = frame.entries[frame.next++];
        if (entry.empty)
            continue;
        if (StartsAnyListedPartition(list, frame.sector + entry.firstSector)) {
            stack.pop_back(); // this EBR points back at a listed partition: stop walking it
            continue;
        }
        if (IsExtendedType(entry.type)) {
            const std::uint64_t next = extendedStart + entry.firstSector;
            if (links < kMaxExtendedLinks && !visited.count(next)) {
                ++links;
                push(next); // may reallocate: `frame` is not used after this
            }
        } else if (entry.type != kPartitionTypeDynamic) {
            AddPrimaryPartition(disk, entry, frame.sector, list);
        }
    }
    return list.size() > before;
}
