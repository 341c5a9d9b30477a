#pragma once
// The database of Windows dynamic disks (LDM): the private header near the end of every member
// disk and the 128-byte VBLK records of its configuration area. Pure byte parsing: everything
// here works on a span and its size, and every length read from the disk is checked first.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

constexpr std::size_t kVblkSlotSize = 128;
// Data bytes of a VBLK record that fit in its first slot and in each continuation slot.
constexpr std::size_t kVblkFirstPartData = 104;
constexpr std::size_t kVblkContinuationData = 112;

// The fields of a PRIVHEAD sector that the reader uses (numbers in host order).
struct LdmPrivHead {
    std::string diskId;     // disk GUID text (offset 0x30), matched against disk records
    std::string groupName;  // disk group name (offset 0xF0, at most 32 bytes)
    std::uint64_t logicalDiskStart = 0;
    std::uint64_t logicalDiskSize = 0;
    std::uint64_t configStart = 0;
    std::uint64_t configSize = 0;
};

// Accepts a 512-byte sector that begins with "PRIVHEAD" and fills `out`.
bool ParsePrivHead(const std::uint8_t* sector, std::size_t size, LdmPrivHead& out);

// One VBLK record, its continuation parts joined behind the first slot: `bytes` holds the
// 24-byte header and then `dataLength` bytes of record data.
struct VblkRecord {
    std::uint32_t sequence = 0;
    std::uint32_t groupNumber = 0;
    std::uint16_t partNumber = 0;
    std::uint16_t partCount = 0;
    std::uint8_t flags = 0;
    std::uint8_t type = 0;
    std::uint32_t dataLength = 0;
    bool valid = true;  // false once joining failed; such records are ignored
    std::vector<std::uint8_t> bytes;
};

// Splits a configuration area into records (first parts in area order) and joins the parts of
// multi-part records. A record whose parts are missing, out of order, or whose data length is
// more than its parts can carry is marked invalid.
std::vector<VblkRecord> ParseVblkRecords(const std::uint8_t* area, std::size_t length);
// Appends the data of the continuation slots (pointers to 128-byte slots, area order) to the
// multi-part records of `records`.
void JoinVblkContinuations(std::vector<VblkRecord>& records,
                           const std::vector<const std::uint8_t*>& continuations);

// Decoded records. Texts are cut to the widths the database allows for them.
struct LdmVolumeRecord {
    std::uint64_t volumeId = 0;
    std::string name;      // at most 127 bytes
    std::string typeText;  // at most 127 bytes
    std::string state;     // at most 14 bytes
    std::uint8_t volumeKind = 0;  // 3 or 4
    std::uint8_t volumeNumber = 0;
    std::uint8_t volumeFlags = 0;
    std::uint64_t componentCount = 0;
    std::uint64_t sizeInSectors = 0;
    std::uint8_t partitionType = 0;
    std::uint8_t volumeGuid[16] = {};
    std::string driveHint;  // at most 19 bytes
    std::vector<std::size_t> components;  // linked components, last found first
};

struct LdmComponentRecord {
    std::uint64_t componentId = 0;
    std::string name;
    std::string state;  // at most 14 bytes
    std::uint8_t componentType = 0;  // 1 striped, 2 concatenated, 3 RAID-5
    std::uint64_t partitionCount = 0;
    std::uint64_t parentVolumeId = 0;
    std::uint64_t stripeSize = 0;
    std::uint64_t columnCount = 0;
    bool linked = false;
    std::vector<std::size_t> partitions;  // linked partitions, last found first
};

constexpr std::size_t kNoDiskRecord = static_cast<std::size_t>(-1);

struct LdmPartitionRecord {
    std::uint64_t partitionId = 0;
    std::string name;
    std::uint64_t startSector = 0;  // relative to the logical disk start of its disk
    std::uint64_t volumeOffset = 0;
    std::uint64_t sizeInSectors = 0;
    std::uint64_t parentComponentId = 0;
    std::uint64_t diskId = 0;
    std::uint64_t columnIndex = 0;
    bool linked = false;
    std::size_t disk = kNoDiskRecord;  // index into LdmDatabase::disks
};

struct LdmDiskRecord {
    std::uint64_t diskId = 0;
    std::string name;
    std::string diskGuid;  // GUID text (raw GUIDs of newer records are formatted as text)
    std::string alternateName;
};

struct LdmDatabase {
    std::vector<LdmVolumeRecord> volumes;
    std::vector<LdmComponentRecord> components;
    std::vector<LdmPartitionRecord> partitions;
    std::vector<LdmDiskRecord> disks;
};

// Decodes every valid record by its type into `db` (area order). A record whose fixed-width
// fields run past its end is dropped.
void DecodeVblkRecords(const std::vector<VblkRecord>& records, LdmDatabase& db);
// Links components to volumes and partitions to components (each at most once) and partitions
// to the first disk record with their disk id.
void LinkVblkRecords(LdmDatabase& db);
// Decode and link in one step.
LdmDatabase BuildLdmDatabase(const std::uint8_t* area, std::size_t length);

bool IsVolumeComplete(const LdmDatabase& db, const LdmVolumeRecord& volume);

// Low-level field readers, exposed for tests. `end` is the record end (0x18 + data length).
// A bad var-number reads as all ones, a bad var-string as empty; both then consume one byte.
std::uint64_t ReadVarNumber(const std::uint8_t* record, std::size_t end, std::size_t& pos);
std::string ReadVarString(const std::uint8_t* record, std::size_t end, std::size_t& pos,
                          std::size_t maxLength);
