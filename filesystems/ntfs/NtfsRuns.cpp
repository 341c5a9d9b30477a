#include "filesystems/ntfs/NtfsRuns.h"

#include "filesystems/ntfs/NtfsAttributes.h"
#include "filesystems/ntfs/NtfsFileRecord.h"
#include "filesystems/ntfs/NtfsInternal.h"
#include "storage/ByteSpan.h"

#include <algorithm>

using ntfs_detail::MulAdd;

bool ValidateMappingPairs(const std::uint8_t* pairs, std::size_t len) {
    const ByteSpan span(pairs, len);
    std::size_t pos = 0;
    while (pos < len) {
        const std::uint8_t h = span.u8(pos);
        if (h == 0)
            return true;
        const unsigned cw = h & 0x0F, ow = h >> 4;
        if (cw == 0 || cw > 8 || ow > 8)
            return false;
        pos += 1 + cw + ow;
        if (pos > len)
            return false;
    }
    return false;
}

void DecodeDataRuns(const std::uint8_t* pairs, std::size_t len, NtfsExtentList& out) {
    const ByteSpan span(pairs, len);
    std::size_t pos = 0;
    std::uint64_t vcn = 0, lcn = 0;
    while (pos < len) {
        const std::uint8_t h = span.u8(pos);
        if (h == 0)
            break;
        const unsigned cw = h & 0x0F, ow = h >> 4;
        if (cw > 8 || ow > 8 || !span.has(pos + 1, cw + ow))
            break;
        const std::uint64_t count = span.uVar(pos + 1, cw);
        if (ow) {
            lcn += static_cast<std::uint64_t>(span.iVar(pos + 1 + cw, ow));
            out.push_back({static_cast<std::int64_t>(lcn), vcn, count});
        } else {
            out.push_back({-1, vcn, count});
        }
        vcn += count;
        pos += 1 + cw + ow;
    }
}

bool DecodeMappingPairs(const std::uint8_t* pairs, std::size_t len, NtfsExtentList& out) {
    if (!ValidateMappingPairs(pairs, len))
        return false;
    DecodeDataRuns(pairs, len, out);
    return true;
}

bool CollectAttributeRuns(const NtfsAttributeView& attr, NtfsExtentList& out,
                          std::uint64_t* lowestVcn, std::uint64_t* dataSize, NtfsRunNames names) {
    if (!attr || !attr.NonResident() ||
        (names == NtfsRunNames::UnnamedOnly && attr.NameLength() != 0))
        return false;
    const ByteSpan pairs = attr.MappingPairs();
    const std::size_t before = out.size();
    if (!DecodeMappingPairs(pairs.data(), pairs.size(), out))
        return false;
    const std::uint64_t low = attr.LowestVcn();
    for (std::size_t i = before; i < out.size(); ++i)
        out[i].vcn += low;
    if (lowestVcn)
        *lowestVcn = low;
    if (dataSize)
        *dataSize = attr.DataSize();
    return true;
}

std::uint64_t SumRunCounts(const std::uint8_t* pairs, std::size_t len) {
    NtfsExtentList runs;
    DecodeDataRuns(pairs, len, runs);
    return GetTotalClusters(runs);
}

void SortExtents(NtfsExtentList& extents) {
    std::stable_sort(extents.begin(), extents.end(),
                     [](const NtfsExtent& a, const NtfsExtent& b) { return a.vcn < b.vcn; });
}

bool CollectDataRuns(const std::uint8_t* rec, std::size_t len, NtfsExtentList& out,
                     bool checkSizes, std::uint64_t* dataSize) {
    bool usable = true;
    ForEachFileDataAttribute(
        [&](std::uint32_t type, int i) { return FindAttribute(rec, len, type, i); },
        [&](const NtfsAttributeView& a) {
            if (!a.NonResident())
                return usable = false;
            if (checkSizes && !(a.Flags() & kNtfsAttrFlagCompressed)) {
                const std::uint64_t span = a.HighestVcn() - a.LowestVcn() + 1;
                const ByteSpan pairs = a.MappingPairs();
                if (SumRunCounts(pairs.data(), pairs.size()) != span)
                    return usable = false;
            }
            std::uint64_t low = 0, size = 0;
            if (CollectAttributeRuns(a, out, &low, &size) && low == 0 && dataSize)
                *dataSize = size;
            return true;
        });
    if (!usable)
        return false;
    SortExtents(out);
    return true;
}

std::int64_t MapVcnToLcn(const NtfsExtentList& extents, std::uint64_t vcn) {
    for (const auto& e : extents) {
        if (vcn >= e.vcn && vcn - e.vcn < e.count) {
            std::uint64_t lcn;
            if (e.lcn < 0 || __builtin_add_overflow(static_cast<std::uint64_t>(e.lcn), vcn - e.vcn, &lcn) ||
                lcn > static_cast<std::uint64_t>(INT64_MAX))
                return -1;
            return static_cast<std::int64_t>(lcn);
        }
    }
    return -1;
}

std::int64_t MapLcnToVcn(const NtfsExtentList& extents, std::uint64_t lcn) {
    for (const auto& e : extents) {
        if (e.lcn < 0)
            continue;
        auto start = static_cast<std::uint64_t>(e.lcn);
        if (lcn >= start && lcn - start < e.count)
            return static_cast<std::int64_t>(e.vcn + (lcn - start));
    }
    return -1;
}

std::uint64_t GetTotalClusters(const NtfsExtentList& extents) {
    std::uint64_t total = 0;
    for (const auto& e : extents)
        total += e.count;
    return total;
}

std::int64_t MftRecordToSector(std::uint64_t record, std::uint32_t sectorsPerRecord,
                               std::uint32_t sectorsPerCluster, std::uint64_t partitionFirst,
                               const NtfsExtentList& mft) {
    if (sectorsPerCluster == 0 || sectorsPerRecord == 0)
        return -1;
    std::uint64_t total;
    if (__builtin_mul_overflow(record, std::uint64_t{sectorsPerRecord}, &total))
        return -1;
    std::int64_t lcn = MapVcnToLcn(mft, total / sectorsPerCluster);
    if (lcn < 0)
        return -1;
    std::uint64_t sector;
    if (!MulAdd(static_cast<std::uint64_t>(lcn), sectorsPerCluster, partitionFirst, &sector) ||
        __builtin_add_overflow(sector, total % sectorsPerCluster, &sector) ||
        sector > static_cast<std::uint64_t>(INT64_MAX))
        return -1;
    return static_cast<std::int64_t>(sector);
}

std::int64_t MftSectorToRecord(std::uint64_t sector, std::uint32_t sectorsPerRecord,
                               std::uint32_t sectorsPerCluster, std::uint64_t partitionFirst,
                               const NtfsExtentList& mft) {
    if (sectorsPerCluster == 0 || sectorsPerRecord == 0 || sector < partitionFirst)
        return -1;
    std::uint64_t rel = sector - partitionFirst;
    std::int64_t vcn = MapLcnToVcn(mft, rel / sectorsPerCluster);
    if (vcn < 0)
        return -1;
    std::uint64_t index;
    if (!MulAdd(static_cast<std::uint64_t>(vcn), sectorsPerCluster, rel % sectorsPerCluster, &index))
        return -1;
    if (index % sectorsPerRecord != 0)
        return -1;
    return static_cast<std::int64_t>(index / sectorsPerRecord);
}

std::vector<std::uint8_t> SaveExtentList(const NtfsExtentList& extents) {
    std::vector<std::uint8_t> out(8 + 24 * extents.size());
    const MutableByteSpan w(out.data(), out.size());
    w.put64(0, extents.size());
    for (std::size_t i = 0; i < extents.size(); ++i) {
        w.put64(8 + 24 * i, static_cast<std::uint64_t>(extents[i].lcn));
        w.put64(16 + 24 * i, extents[i].count);
        w.put64(24 + 24 * i, extents[i].vcn);
    }
    return out;
}

bool LoadExtentList(const std::uint8_t* bytes, std::size_t len, NtfsExtentList& out,
                    std::size_t* consumed) {
    const ByteSpan in(bytes, len);
    if (len < 8)
        return false;
    const std::uint64_t n = in.u64(0);
    if (n > (len - 8) / 24)
        return false;
    out.clear();
    for (std::uint64_t i = 0; i < n; ++i) {
        const std::size_t at = 8 + 24 * i;
        out.push_back({in.i64(at), in.u64(at + 16), in.u64(at + 8)});
    }
    if (consumed)
        *consumed = 8 + 24 * n;
    return true;
}

std::uint32_t RoundClusterSectors(std::uint64_t n) {
    if (n > 128)
        return 0;
    if (n > 64)
        return 128;
    if (n > 32)
        return 64;
    if (n > 16)
        return 32;
    if (n > 8)
        return 16;
    if (n > 4)
        return 8;
    if (n > 2)
        return 4;
    return static_cast<std::uint32_t>(n);
}

std::uint32_t EstimateSectorsPerCluster(std::uint64_t bytes, std::uint64_t clusters) {
    if (clusters == 0)
        return 0;
    unsigned __int128 d = static_cast<unsigned __int128>(clusters) * kSectorSize;
    unsigned __int128 q = (bytes + d - 1) / d;
    return q > 128 ? 0 : RoundClusterSectors(static_cast<std::uint64_t>(q));
}

bool EstimateClusterSizeFromMft(const std::uint8_t* rec, std::size_t len, std::uint32_t* estimate) {
    NtfsExtentList runs;
    std::uint64_t size = 0;
    if (!CollectDataRuns(rec, len, runs, true, &size))
        return false;
    if (estimate)
        *estimate = EstimateSectorsPerCluster(size, GetTotalClusters(runs));
    return true;
}
