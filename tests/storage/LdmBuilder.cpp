#include "tests/storage/LdmBuilder.h"

#include <algorithm>
#include <cstring>

namespace ldmtest {

namespace {
void PutBe(std::uint8_t* p, std::uint64_t v, int width) {
    for (int i = width - 1; i >= 0; --i, v >>= 8)
        p[i] = static_cast<std::uint8_t>(v);
}
} // namespace

VblkData& VblkData::Num(std::uint64_t v) {
    std::vector<std::uint8_t> digits;
    do {
        digits.insert(digits.begin(), static_cast<std::uint8_t>(v));
        v >>= 8;
    } while (v);
    bytes.push_back(static_cast<std::uint8_t>(digits.size()));
    return Raw(digits);
}

VblkData& VblkData::NumLength(std::uint8_t length, std::uint8_t fill) {
    bytes.push_back(length);
    bytes.insert(bytes.end(), length, fill);
    return *this;
}

VblkData& VblkData::Str(const std::string& s) {
    bytes.push_back(static_cast<std::uint8_t>(s.size()));
    bytes.insert(bytes.end(), s.begin(), s.end());
    return *this;
}

VblkData& VblkData::Be64(std::uint64_t v) {
    std::uint8_t b[8];
    PutBe(b, v, 8);
    bytes.insert(bytes.end(), b, b + 8);
    return *this;
}

VblkData VolumeData(std::uint64_t id, const std::string& name, std::uint8_t kind, std::uint64_t components,
                    std::uint64_t sectors, std::uint8_t partitionType) {
    VblkData d;
    d.Num(id).Str(name).Str("gen").Zeros(1);
    std::uint8_t state[14] = {'A', 'C', 'T', 'I', 'V', 'E'};
    d.Raw(std::vector<std::uint8_t>(state, state + 14));
    d.Byte(kind).Zeros(1).Byte(1).Zeros(3).Byte(0x11).Num(components).Zeros(16).Num(sectors).Zeros(4);
    d.Byte(partitionType);
    for (int i = 0; i < 16; ++i)
        d.Byte(static_cast<std::uint8_t>(0xA0 + i));
    return d;
}

VblkData ComponentData(std::uint64_t id, std::uint8_t type, std::uint64_t partitions, std::uint64_t volumeId) {
    VblkData d;
    d.Num(id).Str("Volume1-01").Str("ACTIVE").Byte(type).Zeros(4).Num(partitions).Zeros(16).Num(volumeId).Zeros(1);
    return d;
}

VblkData PartitionData(std::uint64_t id, std::uint64_t start, std::uint64_t volumeOffset, std::uint64_t sectors,
                       std::uint64_t componentId, std::uint64_t diskId, std::uint64_t column) {
    VblkData d;
    d.Num(id).Str("Disk1-01").Zeros(12).Be64(start).Be64(volumeOffset).Num(sectors).Num(componentId).Num(diskId);
    d.Num(column);
    return d;
}

VblkData DiskData(std::uint64_t id, const std::string& guid) {
    VblkData d;
    d.Num(id).Str("Disk1").Str(guid).Str("alternate");
    return d;
}

std::vector<std::vector<std::uint8_t>> Slots(const VblkRecipe& recipe) {
    const std::size_t size = recipe.data.size();
    int parts = recipe.parts;
    if (parts < 0)
        parts = size <= 104 ? 1 : 1 + static_cast<int>((size - 104 + 111) / 112);
    const std::uint64_t length = recipe.dataLength < 0 ? size : static_cast<std::uint64_t>(recipe.dataLength);
    std::vector<std::vector<std::uint8_t>> slots;
    std::size_t pos = 0;
    for (int part = 0; part < std::max(parts, 1); ++part) {
        std::vector<std::uint8_t> slot(128, 0);
        std::memcpy(slot.data(), "VBLK", 4);
        PutBe(slot.data() + 4, 100 + slots.size(), 4);
        PutBe(slot.data() + 8, recipe.group, 4);
        PutBe(slot.data() + 12, static_cast<std::uint64_t>(part), 2);
        PutBe(slot.data() + 14, static_cast<std::uint64_t>(parts), 2);
        std::size_t offset = 0x10, room = 112;
        if (part == 0) {
            slot[0x12] = recipe.flags;
            slot[0x13] = recipe.type;
            PutBe(slot.data() + 0x14, length, 4);
            offset = 0x18;
            room = 104;
        }
        const std::size_t n = std::min(room, size - std::min(pos, size));
        if (n)
            std::memcpy(slot.data() + offset, recipe.data.data() + pos, n);
        pos += n;
        slots.push_back(slot);
    }
    return slots;
}

std::vector<std::uint8_t> Area(const std::vector<std::vector<std::uint8_t>>& slots) {
    std::vector<std::uint8_t> area;
    for (const auto& s : slots)
        area.insert(area.end(), s.begin(), s.end());
    return area;
}

std::vector<std::uint8_t> AreaOf(const std::vector<VblkRecipe>& records) {
    std::vector<std::vector<std::uint8_t>> all;
    for (const VblkRecipe& r : records)
        for (auto& s : Slots(r))
            all.push_back(s);
    return Area(all);
}

VblkRecipe Volume(std::uint32_t group, const VblkData& d) { return {group, 0x51, 0x00, d.bytes, -1, -1}; }
VblkRecipe Component(std::uint32_t group, const VblkData& d) { return {group, 0x32, 0x00, d.bytes, -1, -1}; }
VblkRecipe Partition(std::uint32_t group, const VblkData& d) { return {group, 0x33, 0x08, d.bytes, -1, -1}; }
VblkRecipe Disk(std::uint32_t group, const VblkData& d) { return {group, 0x34, 0x00, d.bytes, -1, -1}; }

std::unique_ptr<testsupport::MemoryDevice> MakeLdmDisk(const LdmDiskRecipe& recipe) {
    auto disk = std::make_unique<testsupport::MemoryDevice>(recipe.sectors);
    std::uint8_t* mbr = disk->Sector(0);
    mbr[0x1BE + 4] = 0x42;
    mbr[510] = 0x55;
    mbr[511] = 0xAA;
    const std::uint64_t headerSector = recipe.headerSector < 0 ? recipe.sectors - 1 : static_cast<std::uint64_t>(recipe.headerSector);
    const std::uint64_t configStart = recipe.configStart < 0 ? recipe.sectors - 2050 : static_cast<std::uint64_t>(recipe.configStart);
    std::uint8_t* head = disk->Sector(headerSector);
    std::memcpy(head, "PRIVHEAD", 8);
    std::memcpy(head + 0x30, recipe.guid.data(), std::min<std::size_t>(recipe.guid.size(), 64));
    std::memcpy(head + 0xF0, "TestGroup", 9);
    PutBe(head + 0x11B, 63, 8);
    PutBe(head + 0x123, recipe.sectors - 63 - 2048, 8);
    PutBe(head + 0x12B, configStart, 8);
    PutBe(head + 0x133, 2048, 8);
    if (configStart < recipe.sectors) {
        const std::size_t room = (recipe.sectors - configStart) * 512;
        std::memcpy(disk->Sector(configStart), recipe.area.data(), std::min(room, recipe.area.size()));
    }
    return disk;
}

} // namespace ldmtest
