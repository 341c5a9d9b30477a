#pragma once
// Builds dynamic-disk databases for tests, sound or damaged: VBLK records split into 128-byte
// slots, configuration areas, and whole in-memory disks with a private header.
#include "tests/support/MemoryDevice.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace ldmtest {

// Record data, field by field.
class VblkData {
public:
    VblkData& Num(std::uint64_t v);                       // shortest var-number
    VblkData& NumLength(std::uint8_t length, std::uint8_t fill);  // var-number of any length byte
    VblkData& Str(const std::string& s);                  // var-string
    VblkData& Byte(std::uint8_t b) { bytes.push_back(b); return *this; }
    VblkData& Zeros(std::size_t n) { bytes.insert(bytes.end(), n, 0); return *this; }
    VblkData& Be64(std::uint64_t v);
    VblkData& Raw(const std::vector<std::uint8_t>& b) { bytes.insert(bytes.end(), b.begin(), b.end()); return *this; }
    std::vector<std::uint8_t> bytes;
};

VblkData VolumeData(std::uint64_t id, const std::string& name, std::uint8_t kind, std::uint64_t components,
                    std::uint64_t sectors, std::uint8_t partitionType);
VblkData ComponentData(std::uint64_t id, std::uint8_t type, std::uint64_t partitions, std::uint64_t volumeId);
// Written with flags 0x08 (column index present).
VblkData PartitionData(std::uint64_t id, std::uint64_t start, std::uint64_t volumeOffset, std::uint64_t sectors,
                       std::uint64_t componentId, std::uint64_t diskId, std::uint64_t column);
VblkData DiskData(std::uint64_t id, const std::string& guid);

struct VblkRecipe {
    std::uint32_t group = 1;
    std::uint8_t type = 0;
    std::uint8_t flags = 0;
    std::vector<std::uint8_t> data;
    std::int64_t dataLength = -1;  // -1: the data's size
    int parts = -1;                // -1: as many as the data needs
};

// The 128-byte slots of one record (first part, then continuations in order).
std::vector<std::vector<std::uint8_t>> Slots(const VblkRecipe& recipe);
// Concatenates slots into an area.
std::vector<std::uint8_t> Area(const std::vector<std::vector<std::uint8_t>>& slots);
// All records' slots in order.
std::vector<std::uint8_t> AreaOf(const std::vector<VblkRecipe>& records);

VblkRecipe Volume(std::uint32_t group, const VblkData& d);
VblkRecipe Component(std::uint32_t group, const VblkData& d);
VblkRecipe Partition(std::uint32_t group, const VblkData& d);
VblkRecipe Disk(std::uint32_t group, const VblkData& d);

// A dynamic disk of `sectors` sectors: MBR entry of type 0x42, private header (disk GUID,
// group "TestGroup", logical disk start 63) at `headerSector` (default: last sector), and the
// configuration area at `configStart` (default: sectors - 2050).
struct LdmDiskRecipe {
    std::uint64_t sectors = 8192;
    std::string guid;
    std::vector<std::uint8_t> area;
    std::int64_t headerSector = -1;
    std::int64_t configStart = -1;
};
std::unique_ptr<testsupport::MemoryDevice> MakeLdmDisk(const LdmDiskRecipe& recipe);

} // namespace ldmtest
