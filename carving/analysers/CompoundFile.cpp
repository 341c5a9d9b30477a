#include "carving/analysers/CompoundFile.h"

#include <cstring>
#include <unordered_set>
#include <vector>

namespace {

constexpr std::size_t kHeaderSlotsOffset = 76;

// File offset of sector `s`; false when it or the sector's end lies beyond `limit`.
bool SectorWithin(std::uint32_t s, std::uint32_t shift, std::uint64_t limit,
                  std::uint64_t* offset) {
    const std::uint64_t at = (std::uint64_t(s) + 1) << shift; // s < 2^32, shift <= 12
    const std::uint64_t size = std::uint64_t(1) << shift;
    if (at > limit || size > limit - at)
        return false;
    *offset = at;
    return true;
}

std::u16string EntryName(ByteSpan entry) {
    std::u16string name;
    for (std::size_t i = 0; i < 32; ++i) {
        const char16_t c = static_cast<char16_t>(entry.u16(i * 2));
        if (c == 0)
            break;
        name.push_back(c);
    }
    return name;
}

} // namespace

bool ReadCompoundFileHeader(ByteSpan header, CompoundFileHeader* out) {
    if (!header.has(0, 512) || !header.matches(0, kCompoundFileSignature, 8))
        return false;
    const std::uint32_t shift = header.u16(30);
    if (shift < 9 || shift > 12)
        return false;
    out->sectorShift = shift;
    out->sectorSize = 1u << shift;
    out->firstDirectorySector = header.u32(48);
    out->miniStreamCutoff = header.u32(56);
    out->firstDifatSector = header.u32(68);
    return true;
}

CompoundMeasure MeasureCompoundFile(const CompoundByteSource& source, std::uint64_t limit,
                                    CompoundFileExtent* out) {
    ByteSpan head = source(0, 512);
    if (head.empty())
        return CompoundMeasure::Unreadable;
    CompoundFileExtent e;
    if (!ReadCompoundFileHeader(head, &e.header))
        return CompoundMeasure::Damaged;
    const std::uint32_t shift = e.header.sectorShift;
    const std::size_t slots = e.header.sectorSize / 4; // FAT entries per sector

    std::uint64_t count = 0;
    std::uint32_t last = kCompoundFree;
    for (std::size_t i = 0; i < kCompoundHeaderFatSlots; ++i) {
        const std::uint32_t v = head.u32(kHeaderSlotsOffset + 4 * i);
        if (v != kCompoundFree) {
            ++count;
            last = v;
            if (e.fatSectors.size() < kMaxListedFatSectors)
                e.fatSectors.push_back(v);
        }
    }

    // The DIFAT chain: each sector lists further FAT sectors and, in its last slot, the next.
    // Every sector lies within the limit and none is visited twice, so the walk is bounded.
    std::vector<std::uint32_t> difat;
    std::unordered_set<std::uint32_t> seen;
    for (std::uint32_t d = e.header.firstDifatSector; d != kCompoundEnd && d != kCompoundFree;) {
        std::uint64_t at = 0;
        if (!SectorWithin(d, shift, limit, &at) || !seen.insert(d).second)
            return CompoundMeasure::Damaged;
        ByteSpan s = source(at, e.header.sectorSize);
        if (s.empty())
            return CompoundMeasure::Unreadable;
        difat.push_back(d);
        for (std::size_t i = 0; i + 1 < slots; ++i) {
            const std::uint32_t v = s.u32(4 * i);
            if (v != kCompoundFree) {
                ++count;
                last = v;
                if (e.fatSectors.size() < kMaxListedFatSectors)
                    e.fatSectors.push_back(v);
            }
        }
        d = s.u32(4 * (slots - 1));
    }
    if (count == 0 || last == kCompoundFree)
        return CompoundMeasure::Damaged;

    // How many entries of the last FAT sector are in use. A last FAT sector beyond the limit
    // belongs to a file larger than the limit: it is read where the source holds it (one
    // sector), so that the file claims its real size, and taken as full where it does not.
    std::uint64_t used = slots;
    std::uint64_t lastAt = 0;
    const bool lastWithin = SectorWithin(last, shift, limit, &lastAt);
    if (!lastWithin)
        lastAt = (std::uint64_t(last) + 1) << shift; // last < 2^32, shift <= 12
    ByteSpan lastFat = source(lastAt, e.header.sectorSize);
    if (lastFat.empty() && lastWithin)
        return CompoundMeasure::Unreadable;
    e.lastFatSectorUnread = lastFat.empty();
    if (!lastFat.empty()) {
        used = 0;
        for (std::size_t i = slots; i-- > 0;)
            if (lastFat.u32(4 * i) != kCompoundFree) {
                used = i + 1;
                break;
            }
    }
    e.fatSectorCount = count;
    // count < 2^32 * 1024 (each DIFAT sector is a distinct u32): no overflow here; the shift
    // below could pass 64 bits for numbers no file holds.
    e.usedSectors = (count - 1) * slots + used;
    if (e.usedSectors >= (std::uint64_t(1) << (62 - shift)))
        return CompoundMeasure::Damaged;
    e.size = (e.usedSectors + 1) << shift;
    // The FAT marks its own sectors and the DIFAT's; all of them lie inside what it describes.
    if (last >= e.usedSectors)
        return CompoundMeasure::Damaged;
    for (std::uint32_t d : difat)
        if (d >= e.usedSectors)
            return CompoundMeasure::Damaged;
    *out = std::move(e);
    return CompoundMeasure::Ok;
}

bool ReadCompoundTopLevelNames(const CompoundByteSource& source, const CompoundFileExtent& extent,
                               CompoundDirectoryHead* head) {
    if (!head)
        return false;
    bool whole = true;
    head->topLevel.clear();
    const std::uint32_t shift = extent.header.sectorShift;
    const std::uint32_t size = extent.header.sectorSize;
    const std::uint32_t slots = size / 4;
    std::vector<std::uint8_t> dir;
    std::uint32_t s = extent.header.firstDirectorySector;
    for (std::size_t step = 0; step < kMaxDirectorySectors && s < extent.usedSectors; ++step) {
        ByteSpan d = source((std::uint64_t(s) + 1) << shift, size);
        if (d.empty()) {
            whole = false;
            break;
        }
        dir.insert(dir.end(), d.data(), d.data() + size);
        const std::size_t fatIndex = s / slots;
        if (fatIndex >= extent.fatSectors.size())
            break;
        const std::uint32_t f = extent.fatSectors[fatIndex];
        if (f >= extent.usedSectors)
            break;
        ByteSpan next = source(((std::uint64_t(f) + 1) << shift) + 4 * (s % slots), 4);
        if (next.empty()) {
            whole = false;
            break;
        }
        s = next.u32(0);
    }
    const std::size_t count = dir.size() / kCompoundEntrySize;
    if (count == 0)
        return whole;
    const ByteSpan all(dir.data(), dir.size());
    std::vector<bool> seen(count, false);
    std::vector<std::uint32_t> pending = {all.u32(76)}; // the root's child
    seen[0] = true;
    while (!pending.empty()) {
        const std::uint32_t id = pending.back();
        pending.pop_back();
        if (id >= count || seen[id])
            continue;
        seen[id] = true;
        ByteSpan entry = all.sub(id * kCompoundEntrySize, kCompoundEntrySize);
        const std::uint8_t type = entry.u8(66);
        if (type != 1 && type != 2)
            continue;
        head->topLevel.push_back(EntryName(entry));
        pending.push_back(entry.u32(68)); // left sibling
        pending.push_back(entry.u32(72)); // right sibling
    }
    return whole;
}

bool ReadCompoundDirectoryHead(ByteSpan directorySector, std::uint32_t sectorShift,
                               CompoundDirectoryHead* out) {
    if (!directorySector.has(0, 4 * kCompoundEntrySize))
        return false;
    CompoundDirectoryHead h;
    for (std::size_t i = 0; i < 4; ++i) {
        ByteSpan entry = directorySector.sub(i * kCompoundEntrySize, kCompoundEntrySize);
        h.names[i] = EntryName(entry);
        h.types[i] = entry.u8(66);
        h.startSectors[i] = entry.u32(116);
        // Files of 512-byte sectors keep only the low half of the size (writers may leave
        // anything in the high half).
        h.streamSizes[i] = sectorShift == 9 ? entry.u32(120) : entry.u64(120);
    }
    std::memcpy(h.rootClassId, directorySector.data() + 80, 16);
    *out = h;
    return true;
}

bool CompoundEntriesInside(const CompoundDirectoryHead& head, const CompoundFileExtent& extent) {
    if (head.types[0] != 5)
        return false; // the directory always starts with the root entry
    for (std::size_t i = 0; i < 4; ++i) {
        const bool root = head.types[i] == 5;
        const bool bigStream = head.types[i] == 2 && head.streamSizes[i] > 0 &&
                               head.streamSizes[i] >= extent.header.miniStreamCutoff;
        if (!root && !bigStream)
            continue;
        const std::uint32_t s = head.startSectors[i];
        if (root && (s == kCompoundEnd || s == kCompoundFree))
            continue; // no mini stream
        if (s >= extent.usedSectors)
            return false;
    }
    return true;
}

std::uint32_t ClassifyCompoundDocument(const CompoundDirectoryHead& head,
                                       std::uint64_t* sizeGrowth) {
    const std::u16string* n = head.names;
    std::uint32_t kind = COMPOUND_MOF;
    std::uint64_t growth = 0;
    const auto topLevel = [&head](const char16_t* name) {
        for (const std::u16string& t : head.topLevel)
            if (t == name)
                return true;
        return false;
    };
    if (n[0] == u"WordDocument" || n[1] == u"WordDocument" || n[2] == u"WordDocument" ||
        n[3] == u"WordDocument" || topLevel(u"WordDocument"))
        kind = COMPOUND_DOC;
    if (n[1] == u"Workbook" || n[1] == u"Book" || n[2] == u"Workbook" || n[2] == u"Book" ||
        topLevel(u"Workbook") || topLevel(u"Book"))
        kind = COMPOUND_XLS;
    if (n[1] == u"PowerPoint Document" || n[2] == u"PowerPoint Document" ||
        n[3] == u"PowerPoint Document" || topLevel(u"PowerPoint Document"))
        kind = COMPOUND_PPT;
    if (n[1].compare(0, 8, u"Pictures") == 0 && n[1].size() >= 8)
        kind = COMPOUND_PPT;
    if (n[1] == u"PP40")
        kind = COMPOUND_PPT;
    if (n[1] == u"Scene")
        kind = COMPOUND_MAX;
    if (n[1] == u"VisioDocument") {
        kind = COMPOUND_VSD;
        growth = 1024;
    }
    if (n[1] == u"PerfectOffice_MAIN" && n[2] == u"PerfectOffice_OBJECTS") {
        static const std::uint8_t zeros[16] = {};
        if (n[3] == u"\x05SummaryInformation")
            kind = COMPOUND_SHW;
        else
            kind = std::memcmp(head.rootClassId, zeros, 16) == 0 ? COMPOUND_WPG : COMPOUND_WPD;
    }
    if (n[1] == u"Objects" && n[2] == u"Quill" && n[3] == u"Escher")
        kind = COMPOUND_PUB;
    if (n[1] == u"NativeContent_MAIN")
        kind = COMPOUND_QPW;
    if (n[1] == u"\x01"
                u"CompObj" &&
        n[2] == u"   19" && n[3] == u"   29")
        kind = COMPOUND_MPP;
    if (n[1] == u"PropData" && n[2] == u"Forms" && n[3] == u"Reports")
        kind = COMPOUND_ADP;
    if (sizeGrowth)
        *sizeGrowth = growth;
    return kind;
}

std::uint32_t IdentifyCompoundDocument(ByteSpan file) {
    const CompoundByteSource source = [&file](std::uint64_t offset, std::size_t length) {
        return offset <= file.size() && file.has(static_cast<std::size_t>(offset), length)
                   ? ByteSpan(file.data() + offset, length)
                   : ByteSpan();
    };
    CompoundFileExtent extent;
    if (MeasureCompoundFile(source, file.size(), &extent) != CompoundMeasure::Ok)
        return 0;
    const std::uint32_t dir = extent.header.firstDirectorySector;
    if (dir >= extent.usedSectors)
        return 0;
    ByteSpan d = source((std::uint64_t(dir) + 1) << extent.header.sectorShift, 512);
    CompoundDirectoryHead head;
    if (!ReadCompoundDirectoryHead(d, extent.header.sectorShift, &head) ||
        !CompoundEntriesInside(head, extent))
        return 0;
    ReadCompoundTopLevelNames(source, extent, &head);
    return ClassifyCompoundDocument(head);
}
