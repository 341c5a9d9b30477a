#include "storage/LdmDatabase.h"

#include "storage/ByteSpan.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <unordered_map>

namespace {

// Text of at most `maxLength` bytes, ending at the first NUL.
std::string BoundedText(const std::uint8_t* p, std::size_t available, std::size_t maxLength) {
    const std::size_t limit = std::min(available, maxLength);
    std::size_t n = 0;
    while (n < limit && p[n] != 0)
        ++n;
    return std::string(reinterpret_cast<const char*>(p), n);
}

constexpr std::size_t kRecordHeader = 0x18;

// Walks the data of one record; fixed-width reads fail when they would pass the record end.
class RecordCursor {
public:
    explicit RecordCursor(const VblkRecord& record)
        : m_data(record.bytes.data()),
          m_end(std::min<std::size_t>(record.bytes.size(), kRecordHeader + record.dataLength)) {}

    std::uint64_t Number() { return ReadVarNumber(m_data, m_end, m_pos); }
    std::string Text(std::size_t maxLength) { return ReadVarString(m_data, m_end, m_pos, maxLength); }
    void Skip(std::size_t n) { m_pos += n; }
    bool Fixed(std::size_t width, const std::uint8_t*& out) {
        if (m_pos > m_end || width > m_end - m_pos)
            return false;
        out = m_data + m_pos;
        m_pos += width;
        return true;
    }
    bool Byte(std::uint8_t& out) {
        const std::uint8_t* p = nullptr;
        if (!Fixed(1, p))
            return false;
        out = *p;
        return true;
    }
    bool BigEndian64(std::uint64_t& out) {
        const std::uint8_t* p = nullptr;
        if (!Fixed(8, p))
            return false;
        out = ByteSpan(p, 8).be64(0);
        return true;
    }

private:
    const std::uint8_t* m_data;
    std::size_t m_end;
    std::size_t m_pos = kRecordHeader;
};

constexpr std::size_t kNameWidth = 127;
constexpr std::size_t kStateWidth = 14;
constexpr std::size_t kDriveHintWidth = 19;
constexpr std::size_t kGuidWidth = 64;

bool DecodeVolume(const VblkRecord& record, LdmVolumeRecord& v) {
    RecordCursor c(record);
    const std::uint8_t* p = nullptr;
    v.volumeId = c.Number();
    v.name = c.Text(kNameWidth);
    v.typeText = c.Text(kNameWidth);
    c.Skip(1);
    if (!c.Fixed(14, p))
        return false;
    v.state = BoundedText(p, 14, kStateWidth);
    if (!c.Byte(v.volumeKind))
        return false;
    c.Skip(1);
    if (!c.Byte(v.volumeNumber))
        return false;
    c.Skip(3);
    if (!c.Byte(v.volumeFlags))
        return false;
    v.componentCount = c.Number();
    c.Skip(16);
    v.sizeInSectors = c.Number();
    c.Skip(4);
    if (!c.Byte(v.partitionType) || !c.Fixed(16, p))
        return false;
    std::memcpy(v.volumeGuid, p, 16);
    if (record.flags == 0x02)
        v.driveHint = c.Text(kDriveHintWidth);
    return true;
}

bool DecodeComponent(const VblkRecord& record, LdmComponentRecord& comp) {
    RecordCursor c(record);
    comp.componentId = c.Number();
    comp.name = c.Text(kNameWidth);
    comp.state = c.Text(kStateWidth);
    if (!c.Byte(comp.componentType))
        return false;
    c.Skip(4);
    comp.partitionCount = c.Number();
    c.Skip(16);
    comp.parentVolumeId = c.Number();
    c.Skip(1);
    if (record.flags == 0x10) {
        comp.stripeSize = c.Number();
        comp.columnCount = c.Number();
    }
    return true;
}

bool DecodePartition(const VblkRecord& record, LdmPartitionRecord& part) {
    RecordCursor c(record);
    part.partitionId = c.Number();
    part.name = c.Text(kNameWidth);
    c.Skip(12);
    if (!c.BigEndian64(part.startSector) || !c.BigEndian64(part.volumeOffset))
        return false;
    part.sizeInSectors = c.Number();
    part.parentComponentId = c.Number();
    part.diskId = c.Number();
    if (record.flags == 0x08 || record.flags == 0x48)
        part.columnIndex = c.Number();
    return true;
}

bool DecodeDisk(const VblkRecord& record, LdmDiskRecord& disk) {
    RecordCursor c(record);
    disk.diskId = c.Number();
    disk.name = c.Text(kNameWidth);
    if (record.type == 0x34) {
        disk.diskGuid = c.Text(kGuidWidth);
        disk.alternateName = c.Text(kNameWidth);
        return true;
    }
    const std::uint8_t* g = nullptr;
    if (!c.Fixed(16, g))
        return false;
    // Newer disk records hold the GUID as raw bytes in the order it is written as text.
    char text[40];
    std::snprintf(text, sizeof text,
                  "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", g[0], g[1],
                  g[2], g[3], g[4], g[5], g[6], g[7], g[8], g[9], g[10], g[11], g[12], g[13], g[14],
                  g[15]);
    disk.diskGuid = text;
    return true;
}

} // namespace

bool ParsePrivHead(const std::uint8_t* sector, std::size_t size, LdmPrivHead& out) {
    if (!sector || size < 512 || std::memcmp(sector, "PRIVHEAD", 8) != 0)
        return false;
    out.diskId = BoundedText(sector + 0x30, 64, 64);
    out.groupName = BoundedText(sector + 0xF0, 32, 32);
    const ByteSpan head(sector, size);
    out.logicalDiskStart = head.be64(0x11B);
    out.logicalDiskSize = head.be64(0x123);
    out.configStart = head.be64(0x12B);
    out.configSize = head.be64(0x133);
    return true;
}

std::uint64_t ReadVarNumber(const std::uint8_t* record, std::size_t end, std::size_t& pos) {
    if (pos >= end) {
        ++pos;
        return ~0ull;
    }
    const std::size_t length = record[pos];
    if (length < 1 || length > 64 || length > end - pos - 1) {
        ++pos;
        return ~0ull;
    }
    // Longer numbers keep their low 64 bits.
    const std::size_t take = std::min<std::size_t>(length, 8);
    const std::uint64_t value = ByteSpan(record, end).beVar(pos + 1 + (length - take), take);
    pos += length + 1;
    return value;
}

std::string ReadVarString(const std::uint8_t* record, std::size_t end, std::size_t& pos,
                          std::size_t maxLength) {
    if (pos >= end) {
        ++pos;
        return {};
    }
    const std::size_t length = record[pos];
    if (length == 0 || length > end - pos - 1) {
        ++pos;
        return {};
    }
    std::string text = BoundedText(record + pos + 1, length, maxLength);
    pos += length + 1;
    return text;
}

std::vector<VblkRecord> ParseVblkRecords(const std::uint8_t* area, std::size_t length) {
    std::vector<VblkRecord> records;
    std::vector<const std::uint8_t*> continuations;
    if (!area)
        return records;
    const std::size_t slots = length / kVblkSlotSize;
    for (std::size_t i = 0; i < slots; ++i) {
        const std::uint8_t* slot = area + i * kVblkSlotSize;
        if (std::memcmp(slot, "VBLK", 4) != 0)
            continue;
        const ByteSpan s(slot, kVblkSlotSize);
        const std::uint32_t group = s.be32(0x08);
        const std::uint16_t part = s.be16(0x0C);
        const std::uint16_t parts = s.be16(0x0E);
        if (group == 0)
            continue;
        if (parts != 0 && part == 0) {
            VblkRecord r;
            r.sequence = s.be32(0x04);
            r.groupNumber = group;
            r.partNumber = part;
            r.partCount = parts;
            r.flags = slot[0x12];
            r.type = slot[0x13];
            r.dataLength = s.be32(0x14);
            // The data length comes from the disk: it must fit in the parts the record has,
            // and a record cannot have more parts than the area has slots.
            const std::uint64_t capacity =
                kVblkFirstPartData + kVblkContinuationData * (std::uint64_t{parts} - 1);
            if (r.dataLength > capacity || parts > slots) {
                r.valid = false;
                r.bytes.assign(slot, slot + kVblkSlotSize);
            } else {
                r.bytes.assign(r.dataLength + 0x18, 0);
                std::memcpy(r.bytes.data(), slot, std::min<std::size_t>(kVblkSlotSize, r.bytes.size()));
            }
            records.push_back(std::move(r));
        } else if (parts > 1 && part != 0) {
            continuations.push_back(slot);
        }
    }
    JoinVblkContinuations(records, continuations);
    return records;
}

void JoinVblkContinuations(std::vector<VblkRecord>& records,
                           const std::vector<const std::uint8_t*>& continuations) {
    for (VblkRecord& r : records) {
        if (!r.valid || r.partCount <= 1 || r.dataLength <= kVblkFirstPartData)
            continue;
        std::size_t remaining = r.dataLength - kVblkFirstPartData;
        std::size_t writePos = kVblkSlotSize;
        std::uint32_t nextPart = 1;
        for (const std::uint8_t* slot : continuations) {
            if (remaining == 0)
                break;
            const ByteSpan s(slot, kVblkSlotSize);
            if (s.be32(0x08) != r.groupNumber || s.be16(0x0C) != nextPart)
                continue;
            const std::size_t n = std::min(remaining, kVblkContinuationData);
            std::memcpy(r.bytes.data() + writePos, slot + 0x10, n);
            writePos += n;
            remaining -= n;
            ++nextPart;
        }
        if (remaining != 0 || nextPart != r.partCount)
            r.valid = false;
    }
}

void DecodeVblkRecords(const std::vector<VblkRecord>& records, LdmDatabase& db) {
    for (const VblkRecord& r : records) {
        if (!r.valid)
            continue;
        switch (r.type) {
        case 0x51: {
            LdmVolumeRecord v;
            if (DecodeVolume(r, v))
                db.volumes.push_back(std::move(v));
            break;
        }
        case 0x32: {
            LdmComponentRecord c;
            if (DecodeComponent(r, c))
                db.components.push_back(std::move(c));
            break;
        }
        case 0x33: {
            LdmPartitionRecord p;
            if (DecodePartition(r, p))
                db.partitions.push_back(std::move(p));
            break;
        }
        case 0x34:
        case 0x44: {
            LdmDiskRecord d;
            if (DecodeDisk(r, d))
                db.disks.push_back(std::move(d));
            break;
        }
        default:
            break;
        }
    }
}

void LinkVblkRecords(LdmDatabase& db) {
    // Each component and partition joins the first owner that claims it, so duplicate ids in
    // a damaged database cannot link a record twice.
    std::unordered_map<std::uint64_t, std::vector<std::size_t>> componentsByVolume;
    std::unordered_map<std::uint64_t, std::vector<std::size_t>> partitionsByComponent;
    std::unordered_map<std::uint64_t, std::size_t> diskById;
    for (std::size_t i = 0; i < db.components.size(); ++i)
        componentsByVolume[db.components[i].parentVolumeId].push_back(i);
    for (std::size_t i = 0; i < db.partitions.size(); ++i)
        partitionsByComponent[db.partitions[i].parentComponentId].push_back(i);
    for (std::size_t i = 0; i < db.disks.size(); ++i)
        diskById.emplace(db.disks[i].diskId, i);

    for (LdmVolumeRecord& volume : db.volumes) {
        auto comps = componentsByVolume.find(volume.volumeId);
        if (comps == componentsByVolume.end())
            continue;
        // Chains run from the last record found to the first.
        volume.components.assign(comps->second.rbegin(), comps->second.rend());
        const std::vector<std::size_t> areaOrder = std::move(comps->second);
        componentsByVolume.erase(comps);
        for (std::size_t ci : areaOrder) {
            LdmComponentRecord& comp = db.components[ci];
            comp.linked = true;
            auto parts = partitionsByComponent.find(comp.componentId);
            if (parts == partitionsByComponent.end())
                continue;
            comp.partitions.assign(parts->second.rbegin(), parts->second.rend());
            partitionsByComponent.erase(parts);
            for (std::size_t pi : comp.partitions) {
                LdmPartitionRecord& part = db.partitions[pi];
                part.linked = true;
                auto disk = diskById.find(part.diskId);
                if (disk != diskById.end())
                    part.disk = disk->second;
            }
        }
    }
}

LdmDatabase BuildLdmDatabase(const std::uint8_t* area, std::size_t length) {
    LdmDatabase db;
    DecodeVblkRecords(ParseVblkRecords(area, length), db);
    LinkVblkRecords(db);
    return db;
}

bool IsVolumeComplete(const LdmDatabase& db, const LdmVolumeRecord& volume) {
    if (volume.volumeKind != 3 && volume.volumeKind != 4)
        return false;
    if (volume.components.empty())
        return false;
    for (std::size_t ci : volume.components) {
        const LdmComponentRecord& comp = db.components[ci];
        if (comp.componentType < 1 || comp.componentType > 3 || comp.partitions.empty())
            return false;
        for (std::size_t pi : comp.partitions)
            if (db.partitions[pi].disk == kNoDiskRecord)
                return false;
    }
    return true;
}
