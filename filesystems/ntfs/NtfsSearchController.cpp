#include "filesystems/ntfs/NtfsSearchController.h"

#include "carving/records/FoundFileEntry.h"
#include "carving/records/RawFileInfo.h"
#include "filesystems/FileProperties.h"
#include "filesystems/StoreSection.h"
#include "filesystems/ntfs/NtfsFoundTreeBuilder.h"
#include "filesystems/ntfs/NtfsStandardContent.h"
#include "storage/ByteSpan.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::uint32_t kIndexBlockBytes = 4096;
constexpr std::uint32_t kLogPageSectors = 8;
constexpr std::uint64_t kMftWindow = 16; // sectors after an $MFT record that its sequence spans

bool Magic(const std::uint8_t* p, const char* m) {
    return std::memcmp(p, m, 4) == 0;
}

// The first attribute of `type` without a name, or null.
const std::uint8_t* FindUnnamed(const std::uint8_t* rec, std::size_t len, std::uint32_t type) {
    for (int i = 0;; ++i) {
        const std::uint8_t* a = FindAttribute(rec, len, type, i);
        if (!a || AttrNameLength(a) == 0)
            return a;
    }
}

// Runs of a non-resident attribute, VCNs from its lowest VCN, sorted; false when the attribute
// is resident or its mapping pairs do not hold together.
bool AttributeExtents(const std::uint8_t* rec, std::size_t len, const std::uint8_t* attr,
                      NtfsExtentList& out) {
    if (!attr || !AttrNonResident(attr))
        return false;
    const std::size_t left = len - static_cast<std::size_t>(attr - rec);
    const std::uint32_t alen = AttrLength(attr), po = AttrPairsOffset(attr);
    if (alen > left || po > alen || !ValidateMappingPairs(attr + po, alen - po))
        return false;
    const std::size_t before = out.size();
    DecodeDataRuns(attr + po, alen - po, out);
    const std::uint64_t low = AttrLowestVcn(attr);
    for (std::size_t i = before; i < out.size(); ++i)
        out[i].vcn += low;
    if (!std::is_sorted(out.begin(), out.end(),
                        [](const NtfsExtent& a, const NtfsExtent& b) { return a.vcn < b.vcn; }))
        SortExtents(out);
    return true;
}

// The long form of a record node: sector, the unnamed $DATA runs, $LogFile sequence number,
// the cluster size those runs imply. False when the record has no such runs.
bool MakeLongNode(std::uint64_t sector, const std::uint8_t* rec, std::size_t len,
                  NtfsRecordNode& node) {
    const std::uint8_t* data = FindUnnamed(rec, len, kNtfsAttrData);
    node = NtfsRecordNode();
    node.sector = sector;
    node.lsn = NtfsRd64(rec + 8);
    if (!AttributeExtents(rec, len, data, node.extents) || node.extents.empty())
        return false;
    node.sectorsPerCluster = static_cast<std::uint8_t>(
        EstimateSectorsPerCluster(AttrAllocatedSize(data), GetTotalClusters(node.extents)));
    return true;
}

// The short form for an $MFT record: also needs a cluster size and a first cluster.
bool MakeShortNode(std::uint64_t sector, const std::uint8_t* rec, std::size_t len,
                   NtfsRecordNode& node) {
    if (!MakeLongNode(sector, rec, len, node))
        return false;
    node.lsn = 0;
    return node.sectorsPerCluster != 0 && node.FirstCluster() != -1;
}

void AddToRanges(std::vector<NtfsSectorRange>& ranges, std::uint64_t first, std::uint64_t count) {
    if (!ranges.empty() && ranges.back().first + ranges.back().count == first) {
        ranges.back().count += count;
        return;
    }
    if (ranges.size() < kNtfsSearchListCap)
        ranges.push_back({first, count});
}

// Sectors that [first, end) shares with the (ascending, disjoint) ranges.
std::uint64_t SharedSectors(const std::vector<NtfsSectorRange>& ranges, std::uint64_t first,
                            std::uint64_t end) {
    if (first >= end)
        return 0;
    auto it =
        std::upper_bound(ranges.begin(), ranges.end(), first,
                         [](std::uint64_t s, const NtfsSectorRange& r) { return s < r.first; });
    if (it != ranges.begin())
        --it;
    std::uint64_t shared = 0;
    for (; it != ranges.end() && it->first < end; ++it) {
        const std::uint64_t lo = std::max(first, it->first);
        const std::uint64_t hi = std::min(end, it->first + it->count);
        if (hi > lo)
            shared += hi - lo;
    }
    return shared;
}

// Sectors of a node's extents (as a file of the partition at `first` with `spc`) that the
// ranges matched.
std::uint64_t ConfirmedSectors(const NtfsRecordNode& node, std::uint64_t first, std::uint32_t spc,
                               const std::vector<NtfsSectorRange>& ranges) {
    std::uint64_t total = 0;
    for (const NtfsExtent& e : node.extents) {
        std::uint64_t a, b;
        if (e.lcn < 0 ||
            __builtin_mul_overflow(static_cast<std::uint64_t>(e.lcn), std::uint64_t{spc}, &a) ||
            __builtin_add_overflow(a, first, &a) ||
            __builtin_mul_overflow(e.count, std::uint64_t{spc}, &b) ||
            __builtin_add_overflow(a, b, &b))
            continue;
        total += SharedSectors(ranges, a, b);
    }
    return total;
}

// Fix-up check of a multi-sector structure at `p` (`len` bytes): the update sequence array
// must fit and every sector it covers must end with the sequence number. Applies them to `p`.
bool ApplyStructureFixups(std::uint8_t* p, std::size_t len, std::uint32_t usaOffset,
                          std::uint32_t usaCount) {
    if (usaCount == 0 || usaOffset + 2ull * usaCount > len || (usaCount - 1ull) * kSectorSize > len)
        return false;
    const std::uint16_t usn = NtfsRd16(p + usaOffset);
    for (std::uint32_t i = 1; i < usaCount; ++i)
        if (NtfsRd16(p + i * kSectorSize - 2) != usn)
            return false;
    for (std::uint32_t i = 1; i < usaCount; ++i)
        std::memcpy(p + i * kSectorSize - 2, p + usaOffset + 2 * i, 2);
    return true;
}

// Walks the index entries of an index node whose entries start at `begin` and end at `end`
// (offsets into `node`). Calls fn(entryOffset, flags) for each entry before the last one;
// fn returns false to stop. False when an entry does not fit.
template <typename Fn>
bool WalkIndexEntries(const ByteSpan& node, std::size_t begin, std::size_t end, Fn fn) {
    std::size_t off = begin;
    for (int guard = 0; guard < 4096 && off + 16 <= end; ++guard) {
        const std::uint16_t elen = node.u16(off + 8);
        const std::uint16_t flags = node.u16(off + 12);
        if (elen == 0 || (flags & 0x02))
            return true;
        if (elen < 16 || !node.has(off, elen) || off + elen > end)
            return false;
        if (!fn(off, flags, elen))
            return true;
        off += elen;
    }
    return true;
}

// An entry with a $FILE_NAME key: the name is not empty and its allocated size is not below
// its data size.
bool EntryNameSane(const ByteSpan& node, std::size_t off, std::uint16_t elen) {
    const std::uint16_t keyLen = node.u16(off + 10);
    if (keyLen < 0x42 || 16u + keyLen > elen)
        return false;
    const std::uint8_t units = node.u8(off + 16 + 0x40);
    if (units == 0 || 0x42u + 2u * units > keyLen)
        return false;
    return node.u64(off + 56) >= node.u64(off + 64);
}

} // namespace

std::int64_t NtfsRecordNode::FirstCluster() const {
    return MapVcnToLcn(extents, 0);
}

// ---------------------------------------------------------------------------------------------
// Index blocks.

bool CheckIndexBuffer(const std::uint8_t* block, std::size_t len) {
    if (!block || len < kIndexBlockBytes || !Magic(block, "INDX"))
        return false;
    std::uint8_t copy[kIndexBlockBytes];
    std::memcpy(copy, block, sizeof copy);
    ByteSpan s(copy, sizeof copy);
    const std::uint32_t entriesOffset = s.u32(24), used = s.u32(28), allocated = s.u32(32);
    const std::uint32_t usaOffset = s.u16(4), usaCount = s.u16(6);
    if (allocated > len || used > allocated || usaCount > 16 || usaOffset < 40 || usaOffset > 256)
        return false;
    if (usaCount == 0 || (usaCount - 1) * kSectorSize > sizeof copy ||
        usaCount != (std::uint64_t{allocated} + entriesOffset) / kSectorSize + 1)
        return false;
    if (!ApplyStructureFixups(copy, sizeof copy, usaOffset, usaCount))
        return false;
    const std::uint64_t begin = 24ull + entriesOffset, end = 24ull + used;
    if (begin >= sizeof copy || end > sizeof copy || begin >= end)
        return false;
    bool ok = true;
    bool first = true;
    std::uint64_t parent = 0;
    const bool fits = WalkIndexEntries(
        s, begin, end, [&](std::size_t off, std::uint16_t flags, std::uint16_t elen) {
            if (first) {
                if (!s.has(off + 16, 8)) {
                    ok = false;
                    return false;
                }
                parent = s.u64(off + 16);
            }
            if (flags != 0x01) {
                if (!EntryNameSane(s, off, elen) || s.u64(off + 16) != parent) {
                    ok = false;
                    return false;
                }
            }
            first = false;
            return true;
        });
    return fits && ok && !first;
}

std::int64_t GetIndexNodeParent(const std::uint8_t* attr, std::size_t bytesLeft) {
    if (!attr || !ValidateAttribute(attr, bytesLeft) || AttrNonResident(attr))
        return -1;
    ByteSpan value(AttrValue(attr), AttrValueLength(attr));
    // Index root header (16 bytes), then the node header.
    const std::uint32_t entriesOffset = value.u32(16), total = value.u32(20);
    if (!value.ok() || std::uint64_t{total} + 16 > value.size())
        return -1;
    const std::uint64_t begin = 16ull + entriesOffset, end = 16ull + total;
    if (begin >= end)
        return -1;
    std::int64_t result = -1;
    bool other = false;
    WalkIndexEntries(value, begin, end,
                     [&](std::size_t off, std::uint16_t flags, std::uint16_t elen) {
                         if (flags != 0x01 && !EntryNameSane(value, off, elen))
                             return false;
                         if (!value.has(off + 16, 8))
                             return false;
                         const std::int64_t parent =
                             static_cast<std::int64_t>(value.u64(off + 16) & 0x0000FFFFFFFFFFFFull);
                         if (result == -1)
                             result = parent;
                         else if (parent != result) {
                             other = true;
                             return false;
                         }
                         return true;
                     });
    return other ? -1 : result;
}

// ---------------------------------------------------------------------------------------------

CNTFSSearchController::CNTFSSearchController() : m_indexBlock(kIndexBlockBytes) {}

CNTFSSearchController::~CNTFSSearchController() = default;

void CNTFSSearchController::SetDevice(IStorageDevice* device) {
    m_device = device;
    m_deviceSectors = device ? device->GetSectorCount() : 0;
}

void CNTFSSearchController::BeginSearch() {
    FreeSearchState();
    const ScanOptions& options = GetScanOptions();
    m_useBootRecords = options.UseBootRecords != 0;
    m_useVolumeSize = options.UseNtfsVolumeSize != 0;
    m_buffer.assign(
        (std::size_t{m_sectorsPerStep ? m_sectorsPerStep : 1} + kHeadSectors) * kSectorSize, 0);
    m_prevCount = 0;
    m_searching = true;
}

void CNTFSSearchController::FreeSearchState() {
    std::vector<std::uint8_t>().swap(m_buffer);
    m_pendingFile.clear();
    m_pendingIndex.clear();
    m_pendingLogPage = kNtfsUnknown;
    m_indexRecords.clear();
    m_indexedFolders.clear();
    std::vector<NtfsRecordNode>().swap(m_mirrorRecords);
    std::vector<std::pair<std::size_t, std::size_t>>().swap(m_mftPairs);
    m_attrDef = SystemFileTracker();
    m_upCase = SystemFileTracker();
    std::vector<NtfsRecordNode>().swap(m_logRecords);
    m_logStarts.clear();
    m_restartPages.clear();
    m_logPages.clear();
    m_pendingMft = m_pendingMirror = -1;
    m_mftSequenceLast = -1;
    m_lastMftSector = m_bitmapClusters = kNtfsUnknown;
    m_bitmapRecords.clear();
    m_foundFiles = FoundFileEntryList();
    std::unordered_set<std::uint64_t>().swap(m_mftSectors);
    for (const NtfsRecordNode& n : m_mftRecords)
        m_mftSectors.insert(n.sector);
    m_searching = false;
}

// ---------------------------------------------------------------------------------------------
// Evidence editing.

int CNTFSSearchController::UpdateEvidence(const Key& key, std::uint32_t set, std::uint32_t clear) {
    auto [lo, hi] = m_partitions.equal_range(key);
    if (lo == hi)
        return 0;
    for (auto it = lo; it != hi;) {
        CSearchedNTFSPartitionInfo& r = *it->second;
        r.SetEvidence((r.GetEvidence() & ~clear) | (set & ~clear));
        if (r.GetEvidence() == 0)
            it = m_partitions.erase(it); // nothing refers to it any more: freed
        else
            ++it;
    }
    return 1;
}

void CNTFSSearchController::Insert(Candidate c) {
    c->m_u32Identity = m_nextIdentity++;
    const Key key = KeyOf(*c);
    m_partitions.emplace(key, std::move(c));
}

void CNTFSSearchController::MarkOrInsert(Candidate c, std::uint32_t bits) {
    if (!c)
        return;
    if (!UpdateEvidence(KeyOf(*c), bits, 0))
        Insert(std::move(c));
}

std::vector<const CSearchedNTFSPartitionInfo*> CNTFSSearchController::PeekPartitions() const {
    std::vector<const CSearchedNTFSPartitionInfo*> out;
    for (const auto& [key, r] : m_partitions)
        out.push_back(r.get());
    return out;
}

// ---------------------------------------------------------------------------------------------
// Chunks.

int CNTFSSearchController::AnalyzeSectors(std::uint64_t first, std::uint64_t count,
                                          IntelligentSearchStats* stats) {
    if (!m_device || count == 0)
        return 1;
    if (!m_searching)
        BeginSearch();
    // A chunk larger than the step is analysed in pieces of the buffer's size.
    const std::uint64_t step = m_buffer.size() / kSectorSize - kHeadSectors;
    ChunkCounts counts;
    for (std::uint64_t done = 0; done < count;) {
        const std::uint64_t n = std::min(step, count - done);
        const std::uint64_t f = first + done;
        std::uint8_t* data = m_buffer.data() + kHeadSectors * kSectorSize;
        if (Continues(f)) {
            // The previous chunk's tail goes in front of this chunk, so that structures that
            // the border cut can be read whole.
            const std::uint64_t keep = std::min<std::uint64_t>(kHeadSectors, m_prevCount);
            std::uint8_t* head = data - keep * kSectorSize;
            if (m_prevInBuffer)
                std::memmove(head, data + (m_prevCount - keep) * kSectorSize,
                             static_cast<std::size_t>(keep * kSectorSize));
            else if (!m_device->ReadSectors(head, f - keep, keep)) // it was read in place
                std::memset(head, 0, static_cast<std::size_t>(keep * kSectorSize));
        }
        if (!m_device->ReadSectors(data, f, n)) {
            // Read what can be read; a sector that fails reads as zeros and matches nothing.
            for (std::uint64_t i = 0; i < n; ++i)
                if (!m_device->ReadSectors(data + i * kSectorSize, f + i, 1))
                    std::memset(data + i * kSectorSize, 0, kSectorSize);
        }
        AnalyzePiece(f, n, data, &counts);
        m_prevInBuffer = true;
        done += n;
    }
    AddCounts(counts, stats);
    return 1;
}

int CNTFSSearchController::AnalyzeLoadedChunk(const SearchChunk& chunk,
                                              IntelligentSearchStats* stats) {
    if (!m_device || chunk.count == 0)
        return 1;
    if (!m_searching)
        BeginSearch();
    // In place when the chunk fits the step and the border's head room is there.
    const std::uint64_t step = m_buffer.size() / kSectorSize - kHeadSectors;
    const bool headThere =
        !Continues(chunk.first) ||
        chunk.headSectors >= std::min<std::uint64_t>(kHeadSectors, m_prevCount);
    if (!chunk.data || chunk.count > step || !headThere)
        return AnalyzeSectors(chunk.first, chunk.count, stats);
    ChunkCounts counts;
    AnalyzePiece(chunk.first, chunk.count, chunk.data, &counts);
    m_prevInBuffer = false;
    AddCounts(counts, stats);
    return 1;
}

bool CNTFSSearchController::Continues(std::uint64_t first) const {
    return m_prevCount != 0 && m_prevFirst + m_prevCount == first;
}

void CNTFSSearchController::AnalyzePiece(std::uint64_t first, std::uint64_t count,
                                         const std::uint8_t* data, ChunkCounts* counts) {
    if (!Continues(first)) {
        m_pendingFile.clear();
        m_pendingIndex.clear();
        m_pendingLogPage = kNtfsUnknown;
    }
    AnalyzeChunk(first, count, data, &counts->bootSectors, &counts->fileRecords);
    m_prevFirst = first;
    m_prevCount = count;
}

void CNTFSSearchController::AddCounts(const ChunkCounts& counts, IntelligentSearchStats* stats) {
    if (!stats)
        return;
    auto& c = stats->counters;
    c[ISS_NTFSBootRecords] += counts.bootSectors;
    c[ISS_Counter12] += counts.bootSectors;
    c[ISS_NTFSFileRecords] += counts.fileRecords;
    c[ISS_TotalFilesFound] += counts.fileRecords;
    c[ISS_ChunkCounter15] += counts.fileRecords;
    c[ISS_Counter13] = counts.fileRecords;
}

void CNTFSSearchController::AnalyzeChunk(std::uint64_t first, std::uint64_t count,
                                         const std::uint8_t* data, std::uint32_t* bootSectors,
                                         std::uint32_t* fileRecords) {
    const std::uint64_t end = first + count;
    auto at = [&](std::uint64_t sector) {
        return data + static_cast<std::ptrdiff_t>(sector - first) * kSectorSize;
    };
    auto availFrom = [&](std::uint64_t sector) {
        return static_cast<std::size_t>(std::min<std::uint64_t>(end - sector, 16) * kSectorSize);
    };

    // Structures the previous chunk's border cut, now whole (their sectors lie in the head room).
    if (!m_pendingIndex.empty() || !m_pendingFile.empty()) {
        std::vector<std::uint64_t> index, file;
        index.swap(m_pendingIndex);
        file.swap(m_pendingFile);
        std::size_t i = 0, j = 0;
        while (i < index.size() || j < file.size()) {
            const bool takeIndex = j == file.size() || (i < index.size() && index[i] <= file[j]);
            const std::uint64_t s = takeIndex ? index[i++] : file[j++];
            if (s >= first || first - s > kHeadSectors)
                continue;
            if (takeIndex)
                AnalyzePageSector(s, at(s), availFrom(s));
            else if (AnalyzeFileRecordSector(s, at(s), availFrom(s)) == 0)
                ++*fileRecords;
        }
    }

    const std::uint8_t* attrDef = NtfsStandardAttrDef();
    const std::uint8_t* upCase = NtfsStandardUpCase();
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::uint64_t s = first + i;
        const std::uint8_t* p = data + i * kSectorSize;
        const std::size_t avail = availFrom(s);
        if (!IsNTFSBootSector(p)) {
            if (Magic(p, "RSTR") || Magic(p, "INDX"))
                AnalyzePageSector(s, p, avail);
        } else if (m_useBootRecords) {
            AnalyzeDbrSector(s, p);
            ++*bootSectors;
        }
        if (AnalyzeFileRecordSector(s, p, avail) == 0)
            ++*fileRecords;
        for (std::uint32_t k = 0; k < kNtfsAttrDefSectors; ++k)
            if (p[0] == attrDef[k * kSectorSize] &&
                std::memcmp(p, attrDef + k * kSectorSize, kSectorSize) == 0) {
                AddToRanges(m_attrDef.matched, s, 1);
                break;
            }
        const int n = NtfsUpCaseSectorStartingWith(static_cast<std::uint16_t>(p[0] | p[1] << 8));
        if (n >= 0 && std::memcmp(p, upCase + std::size_t(n) * kSectorSize, kSectorSize) == 0)
            AddToRanges(m_upCase.matched, s, 1);
    }
    ScanLogRecordPages(first, count, data);
}

// ---------------------------------------------------------------------------------------------
// Boot sectors.

void CNTFSSearchController::AnalyzeDbrSector(std::uint64_t sector, const std::uint8_t* data) {
    CNTFSDBR boot;
    if (!boot.SetData(data))
        return;
    const std::uint64_t total = boot.GetTotalSectors();
    // Backup hypothesis: the sector is the copy at the end of a partition `total` sectors back.
    if (total <= sector) {
        if (Candidate r = MakeNtfsPartitionFromBootSector(
                boot, sector - total, NTFS_EVIDENCE_BACKUP_BOOT, m_deviceSectors)) {
            const Key key = KeyOf(*r);
            // Every structure of that partition lies before its last sector: when any of them
            // placed it (or its MFT was seen where this boot sector keeps it), the sector is the
            // partition's backup and starts nothing.
            bool backup = false;
            auto [lo, hi] = m_partitions.equal_range(key);
            for (auto it = lo; it != hi; ++it) {
                CSearchedNTFSPartitionInfo& o = *it->second;
                const bool sameVolume = o.m_u64SerialNumber == r->m_u64SerialNumber;
                if ((o.m_u64SectorCount == r->m_u64SectorCount && sameVolume) ||
                    (o.GetEvidence() & NTFS_EVIDENCE_BOOT) ||
                    ((o.GetEvidence() & ~NTFS_EVIDENCE_BACKUP_BOOT) &&
                     (sameVolume || o.m_u64SerialNumber == 0)))
                    backup = true;
                o.AddEvidence(NTFS_EVIDENCE_BACKUP_BOOT);
            }
            const std::uint64_t spc = r->m_sectorsPerCluster;
            auto mftSeenAt = [&](std::uint64_t cluster) {
                std::uint64_t at;
                return !__builtin_mul_overflow(cluster, spc, &at) &&
                       !__builtin_add_overflow(at, r->m_u64FirstSector, &at) &&
                       m_mftSectors.count(at) != 0;
            };
            if (!backup && (mftSeenAt(boot.GetMftCluster()) || mftSeenAt(boot.GetMftMirrorCluster())))
                backup = true;
            // The records already made for this partition ran to the device's end (or to
            // nothing); the boot sector tells its size. They have taken the evidence, so no
            // second record of the same key is made.
            for (auto it = lo; it != hi; ++it) {
                CSearchedNTFSPartitionInfo& o = *it->second;
                if (o.m_u64SectorCount == 0 || (!(o.GetEvidence() & NTFS_EVIDENCE_BOOT) &&
                                                r->m_u64SectorCount < o.m_u64SectorCount)) {
                    o.SetSectorCount(r->m_u64SectorCount);
                    o.m_u64ClusterCount = r->m_u64ClusterCount;
                    if (o.m_u64SerialNumber == 0)
                        o.m_u64SerialNumber = r->m_u64SerialNumber;
                }
            }
            if (lo == hi)
                Insert(std::move(r));
            if (backup) {
                // The partition's own boot sector, taken for a backup when it was met, implied
                // a partition `total` sectors before it: that guess goes.
                if (sector - total >= total)
                    UpdateEvidence({sector - 2 * total, static_cast<std::uint8_t>(spc)}, 0,
                                   NTFS_EVIDENCE_BACKUP_BOOT);
                return;
            }
        }
    }
    if (Candidate r =
            MakeNtfsPartitionFromBootSector(boot, sector, NTFS_EVIDENCE_BOOT, m_deviceSectors))
        Insert(std::move(r));
}

// ---------------------------------------------------------------------------------------------
// FILE records.

int CNTFSSearchController::AnalyzeFileRecordSector(std::uint64_t sector, const std::uint8_t* data,
                                                   std::size_t avail) {
    if (avail < kNtfsRecordSize) {
        if (CheckFileRecordHeader(data, kNtfsRecordSize) ||
            (Magic(data, "FILE") && avail >= kSectorSize)) {
            // The record's second sector starts the next chunk.
            if (m_pendingFile.size() < kHeadSectors)
                m_pendingFile.push_back(sector);
            return 1;
        }
        MftSee(sector, nullptr, -1);
        return 2;
    }
    bool valid = false;
    if (Magic(data, "FILE")) {
        std::memcpy(m_record, data, kNtfsRecordSize);
        valid = CheckFileRecordHeader(m_record, kNtfsRecordSize) &&
                ApplyFixups(m_record, kNtfsRecordSize);
    }
    if (!valid) {
        MftSee(sector, nullptr, -1);
        return 2;
    }
    const std::uint8_t* rec = m_record;
    const int systemFile = FindSystemFileNumber(rec, kNtfsRecordSize);
    MftSee(sector, rec, systemFile);
    if (HasIndexAllocation(rec, kNtfsRecordSize)) {
        AnalyzeFolderRecord(sector, rec);
    } else if (systemFile == 2 || systemFile == 4 || systemFile == 10) {
        NtfsRecordNode node;
        if (MakeLongNode(sector, rec, kNtfsRecordSize, node)) {
            if (systemFile == 2) {
                if (m_logRecords.size() < kNtfsSearchListCap)
                    AnalyzeLogFileRecord(node);
            } else {
                SystemFileTracker& t = systemFile == 4 ? m_attrDef : m_upCase;
                if (t.records.size() < kNtfsSearchListCap) {
                    node.sectorsPerCluster = 0;
                    t.records.push_back(std::move(node));
                }
            }
        }
    } else {
        AnalyzeOrdinaryRecord(sector, rec, systemFile);
    }
    return 0;
}

void CNTFSSearchController::AnalyzeOrdinaryRecord(std::uint64_t sector, const std::uint8_t* rec,
                                                  int systemFile) {
    if (IsExtensionRecord(rec, kNtfsRecordSize))
        return;
    if ((systemFile == 0 || systemFile == 1) &&
        (m_mftRecords.size() >= kNtfsSearchListCap || m_mirrorRecords.size() >= kNtfsSearchListCap))
        return;
    if (m_logRecords.size() >= kNtfsSearchListCap)
        return;
    if (!m_runs.empty() &&
        m_runs.back().firstSector + kNtfsSectorsPerRecord * m_runs.back().recordCount == sector)
        ++m_runs.back().recordCount;
    else
        m_runs.push_back({sector, 1});

    const std::uint8_t* fn = FindAttribute(rec, kNtfsRecordSize, kNtfsAttrFileName, 0);
    NtfsFileNameView name;
    if (!fn || !ReadFileNameAttr(fn, name) || name.nameLength == 0)
        return;
    const std::uint8_t* data = FindUnnamed(rec, kNtfsRecordSize, kNtfsAttrData);
    m_scratchExtents.clear(); // kept between records: no allocation per record
    if (!AttributeExtents(rec, kNtfsRecordSize, data, m_scratchExtents))
        return;
    const std::int64_t firstCluster = MapVcnToLcn(m_scratchExtents, 0);
    if (firstCluster != -1)
        NoteFoundName(name.name, name.nameLength, static_cast<std::uint64_t>(firstCluster), sector);
}

// ---------------------------------------------------------------------------------------------
// The $MFT sequence.

void CNTFSSearchController::MftSee(std::uint64_t sector, const std::uint8_t* rec, int systemFile) {
    const bool near = m_lastMftSector != kNtfsUnknown && sector >= m_lastMftSector &&
                      sector - m_lastMftSector <= kMftWindow;
    if (!rec && m_pendingMft >= 0 && near && ((sector - m_lastMftSector) & 1))
        return; // the second half of a record of the sequence
    if (!rec || systemFile == -1 || m_pendingMft < 0 || !near ||
        static_cast<std::uint64_t>(systemFile) != (sector - m_lastMftSector) / 2)
        MftCommitAndReset();
    if (!rec)
        return;
    if (m_pendingMft >= 0)
        m_mftSequenceLast = std::max(m_mftSequenceLast, systemFile); // the sequence goes on
    if (systemFile == 0) {
        m_lastMftSector = sector;
        m_mftSequenceLast = 0;
        NtfsRecordNode node;
        if (m_mftRecords.size() < kNtfsSearchListCap) {
            if (MakeShortNode(sector, rec, kNtfsRecordSize, node)) {
                m_mftSectors.insert(sector);
                m_mftRecords.push_back(std::move(node));
                m_pendingMft = static_cast<std::int64_t>(m_mftRecords.size() - 1);
            } else {
                MftCommitAndReset();
            }
        }
    } else if (systemFile == 1) {
        NtfsRecordNode node;
        if (m_mirrorRecords.size() < kNtfsSearchListCap) {
            if (MakeLongNode(sector, rec, kNtfsRecordSize, node)) {
                m_mirrorRecords.push_back(std::move(node));
                m_pendingMirror = static_cast<std::int64_t>(m_mirrorRecords.size() - 1);
            } else {
                MftCommitAndReset();
            }
        }
    } else if (systemFile == 6 && m_useVolumeSize) {
        const std::uint8_t* data = FindUnnamed(rec, kNtfsRecordSize, kNtfsAttrData);
        if (data) {
            const std::uint64_t bytes =
                AttrNonResident(data) ? AttrDataSize(data) : AttrValueLength(data);
            if (bytes > 0 && bytes <= (UINT64_MAX >> 4)) {
                m_bitmapClusters = bytes * 8;
                if (m_bitmapRecords.size() < kNtfsSearchListCap)
                    m_bitmapRecords[sector] = m_bitmapClusters;
            }
        }
    }
}

void CNTFSSearchController::MftCommitAndReset() {
    if (m_pendingMft >= 0) {
        // Copies: the analyses below may append to the lists the indices point into.
        const NtfsRecordNode mft = m_mftRecords[static_cast<std::size_t>(m_pendingMft)];
        if (m_pendingMirror < 0) {
            MakeMftCandidates(mft);
        } else {
            const NtfsRecordNode mirror =
                m_mirrorRecords[static_cast<std::size_t>(m_pendingMirror)];
            // The $MFTMirr copy holds records 0 to 3 only; the MFT itself goes on with
            // $AttrDef, the root folder, $Bitmap ...
            AnalyzeMftPair(mft, mirror, m_mftSequenceLast < 4);
            m_mftPairs.emplace_back(static_cast<std::size_t>(m_pendingMft),
                                    static_cast<std::size_t>(m_pendingMirror));
        }
    }
    m_pendingMft = m_pendingMirror = -1;
    m_mftSequenceLast = -1;
    m_lastMftSector = kNtfsUnknown;
    m_bitmapClusters = kNtfsUnknown;
}

void CNTFSSearchController::MftFacts(CSearchedNTFSPartitionInfo& r) const {
    if (r.m_u64MftRecordSector == kNtfsUnknown)
        r.m_u64MftRecordSector = m_lastMftSector;
    ApplyBitmapSize(r, m_bitmapClusters);
}

void CNTFSSearchController::ApplyBitmapSize(CSearchedNTFSPartitionInfo& r,
                                            std::uint64_t bitmapClusters) {
    if (bitmapClusters == kNtfsUnknown || bitmapClusters == 0)
        return;
    if (!(r.GetEvidence() & NTFS_EVIDENCE_BOOT)) {
        r.m_u64ClusterCount = std::min(r.m_u64ClusterCount, bitmapClusters);
        r.SetSectorCount(r.m_u64ClusterCount * r.m_sectorsPerCluster);
    }
    if (bitmapClusters <= UINT64_MAX / 128)
        r.m_u64BitmapSectors = bitmapClusters * r.m_sectorsPerCluster;
}

void CNTFSSearchController::MakeMftCandidates(const NtfsRecordNode& mft) {
    const std::int64_t first = mft.FirstCluster();
    if (first < 0)
        return;
    std::vector<Candidate> candidates;
    if (mft.sectorsPerCluster == 0) {
        MakeNtfsPartitionCandidatesAllSizes(mft.sector, static_cast<std::uint64_t>(first),
                                            NTFS_EVIDENCE_MFT, m_deviceSectors, candidates);
    } else if (Candidate c = MakeNtfsPartitionCandidate(
                   mft.sector, static_cast<std::uint64_t>(first), mft.sectorsPerCluster,
                   NTFS_EVIDENCE_MFT, m_deviceSectors)) {
        candidates.push_back(std::move(c));
    }
    for (Candidate& c : candidates) {
        MftFacts(*c);
        const Key key = KeyOf(*c);
        if (UpdateEvidence(key, NTFS_EVIDENCE_MFT, 0)) {
            auto [lo, hi] = m_partitions.equal_range(key);
            for (auto it = lo; it != hi; ++it)
                MftFacts(*it->second);
            return;
        }
        Insert(std::move(c));
    }
}

void CNTFSSearchController::AnalyzeMftPair(const NtfsRecordNode& mft, const NtfsRecordNode& mirror,
                                           bool mirrorCopy) {
    // The pair at M is either the MFT of a partition at M - L x spc (L: the $MFT's own first
    // cluster) or the $MFTMirr copy of one at M - L2 x spc (L2: the $MFTMirr's first cluster).
    const std::int64_t mirrorCluster = mirror.FirstCluster();
    Candidate c;
    if (mirrorCluster != -1 && mft.sectorsPerCluster != 0)
        c = MakeNtfsPartitionCandidate(mft.sector, static_cast<std::uint64_t>(mirrorCluster),
                                       mft.sectorsPerCluster, NTFS_EVIDENCE_MIRROR,
                                       m_deviceSectors);
    if (!c) {
        MakeMftCandidates(mft);
        return;
    }
    MftFacts(*c);
    const Key key = KeyOf(*c);
    const std::uint64_t spc = mft.sectorsPerCluster;
    const auto mftCluster = static_cast<std::uint64_t>(mft.FirstCluster());
    const std::uint64_t mftAt = c->m_u64FirstSector + mftCluster * spc; // a lookup only
    auto both = [&](const Key& k) {
        auto [lo, hi] = m_partitions.equal_range(k);
        for (auto it = lo; it != hi; ++it)
            it->second->SetEvidence((it->second->GetEvidence() | NTFS_EVIDENCE_MFT_AND_MIRROR) &
                                    ~(NTFS_EVIDENCE_MFT | NTFS_EVIDENCE_MIRROR));
        return lo != hi;
    };
    if (m_mftSectors.count(mftAt)) {
        both(key); // the MFT was seen where this mirror's partition keeps it
        return;
    }
    if (UpdateEvidence(key, NTFS_EVIDENCE_MIRROR, 0)) {
        auto [lo, hi] = m_partitions.equal_range(key);
        for (auto it = lo; it != hi; ++it)
            MftFacts(*it->second);
        return;
    }
    // Read as the MFT itself: its partition's mirror copy may have been seen already (a mirror
    // in the partition's first clusters comes before the MFT).
    std::uint64_t mftOffset = 0, mirrorAt = 0;
    const bool mftFits = !__builtin_mul_overflow(mftCluster, spc, &mftOffset) &&
                         mftOffset <= mft.sector;
    const Key mftKey{mft.sector - (mftFits ? mftOffset : 0), mft.sectorsPerCluster};
    if (!mirrorCopy && mftFits &&
        !__builtin_mul_overflow(static_cast<std::uint64_t>(mirrorCluster), spc, &mirrorAt) &&
        !__builtin_add_overflow(mirrorAt, mftKey.first, &mirrorAt) &&
        m_mftSectors.count(mirrorAt) && both(mftKey)) {
        auto [lo, hi] = m_partitions.equal_range(mftKey);
        for (auto it = lo; it != hi; ++it)
            MftFacts(*it->second);
        return;
    }
    if (mirrorCopy && !(mftFits && m_partitions.count(mftKey))) {
        // Four records and no more, and no partition known at the MFT reading: the $MFTMirr
        // copy of a partition whose MFT is gone. Never the MFT of a partition before it. Its
        // $Bitmap record, when the rest of the MFT was seen, tells its size.
        std::uint64_t bitmapAt;
        if (!__builtin_mul_overflow(mftCluster, spc, &bitmapAt) &&
            !__builtin_add_overflow(bitmapAt, c->m_u64FirstSector, &bitmapAt) &&
            !__builtin_add_overflow(bitmapAt, 6 * kNtfsSectorsPerRecord, &bitmapAt)) {
            auto b = m_bitmapRecords.find(bitmapAt);
            if (b != m_bitmapRecords.end())
                ApplyBitmapSize(*c, b->second);
        }
        Insert(std::move(c));
        return;
    }
    MakeMftCandidates(mft);
}

// ---------------------------------------------------------------------------------------------
// $LogFile.

CNTFSSearchController::Candidate
CNTFSSearchController::MakeLogCandidate(std::uint64_t page, const LogStart& log,
                                        std::uint32_t evidence) const {
    Candidate c = MakeNtfsPartitionCandidate(page, static_cast<std::uint64_t>(log.cluster),
                                             log.spc, evidence, m_deviceSectors);
    // The $LogFile record lies in the partition's MFT, after its first sector: a page read
    // with the record of a volume before it places nothing.
    if (c && log.lastRecord < c->m_u64FirstSector)
        c.reset();
    return c;
}

void CNTFSSearchController::AnalyzeRstrRecord(std::uint64_t page) {
    if (m_restartPages.size() >= kNtfsSearchListCap)
        return;
    const bool second = !m_restartPages.empty() && page >= kLogPageSectors &&
                        m_restartPages.back() == page - kLogPageSectors;
    for (const LogStart& log : m_logStarts) {
        if (second) {
            if (Candidate c =
                    MakeLogCandidate(page - kLogPageSectors, log, NTFS_EVIDENCE_LOG_SECOND))
                UpdateEvidence(KeyOf(*c), NTFS_EVIDENCE_LOG_SECOND, 0);
            if (Candidate c = MakeLogCandidate(page, log, NTFS_EVIDENCE_LOG_FIRST))
                UpdateEvidence(KeyOf(*c), 0, NTFS_EVIDENCE_LOG_FIRST);
        } else {
            MarkOrInsert(MakeLogCandidate(page, log, NTFS_EVIDENCE_LOG_FIRST),
                         NTFS_EVIDENCE_LOG_FIRST);
            if (page > kLogPageSectors)
                MarkOrInsert(
                    MakeLogCandidate(page - kLogPageSectors, log, NTFS_EVIDENCE_LOG_SECOND),
                    NTFS_EVIDENCE_LOG_SECOND);
        }
    }
    m_restartPages.push_back(page);
}

void CNTFSSearchController::AnalyzeLogFileRecord(const NtfsRecordNode& node) {
    const std::int64_t cluster = node.FirstCluster();
    const std::uint8_t spc = node.sectorsPerCluster;
    if (cluster != -1 && spc != 0) {
        auto known = std::find_if(m_logStarts.begin(), m_logStarts.end(), [&](const LogStart& l) {
            return l.cluster == cluster && l.spc == spc;
        });
        if (known != m_logStarts.end()) {
            known->lastRecord = std::max(known->lastRecord, node.sector);
        } else {
            const LogStart log{cluster, spc, node.sector};
            for (std::size_t i = 0; i < m_restartPages.size(); ++i) {
                const std::uint64_t p = m_restartPages[i];
                if (i + 1 < m_restartPages.size() && m_restartPages[i + 1] == p + kLogPageSectors) {
                    MarkOrInsert(
                        MakeLogCandidate(p, log, NTFS_EVIDENCE_LOG_FIRST | NTFS_EVIDENCE_LOG_SECOND),
                        NTFS_EVIDENCE_LOG_FIRST | NTFS_EVIDENCE_LOG_SECOND);
                    ++i;
                } else {
                    MarkOrInsert(MakeLogCandidate(p, log, NTFS_EVIDENCE_LOG_FIRST),
                                 NTFS_EVIDENCE_LOG_FIRST);
                    if (p > kLogPageSectors)
                        MarkOrInsert(
                            MakeLogCandidate(p - kLogPageSectors, log, NTFS_EVIDENCE_LOG_SECOND),
                            NTFS_EVIDENCE_LOG_SECOND);
                }
            }
            m_logStarts.push_back(log);
        }
    }
    m_logRecords.push_back(node);
}

void CNTFSSearchController::ScanLogRecordPages(std::uint64_t first, std::uint64_t count,
                                               const std::uint8_t* data) {
    const std::uint64_t end = first + count;
    auto valid = [](const std::uint8_t* p) {
        if (NtfsRd16(p + 4) != 40 || NtfsRd16(p + 6) != 9)
            return false;
        const std::uint16_t usn = NtfsRd16(p + 40);
        for (std::uint32_t k = 1; k <= kLogPageSectors; ++k)
            if (NtfsRd16(p + k * kSectorSize - 2) != usn)
                return false;
        return true;
    };
    std::uint64_t s = first;
    if (m_pendingLogPage != kNtfsUnknown) {
        const std::uint64_t p = m_pendingLogPage;
        m_pendingLogPage = kNtfsUnknown;
        if (p < first && first - p <= kHeadSectors && p + kLogPageSectors <= end) {
            if (valid(data - static_cast<std::ptrdiff_t>(first - p) * kSectorSize))
                AddToRanges(m_logPages, p, kLogPageSectors);
            s = p + kLogPageSectors;
        }
    }
    while (s < end) {
        const std::uint8_t* p = data + (s - first) * kSectorSize;
        if (!Magic(p, "RCRD")) {
            ++s;
            continue;
        }
        if (end - s < kLogPageSectors) {
            m_pendingLogPage = s; // completed from the next chunk
            break;
        }
        if (valid(p))
            AddToRanges(m_logPages, s, kLogPageSectors);
        s += kLogPageSectors;
    }
}

// ---------------------------------------------------------------------------------------------
// Index blocks and folders.

void CNTFSSearchController::AnalyzePageSector(std::uint64_t sector, const std::uint8_t* p,
                                              std::size_t avail) {
    if (!Magic(p, "RSTR")) {
        AnalyzeIndexRecordSector(sector, p, avail);
        return;
    }
    if (avail < kIndexBlockBytes) {
        if (m_pendingIndex.size() < kHeadSectors)
            m_pendingIndex.push_back(sector); // completed from the next chunk
        return;
    }
    if (NtfsRd32(p + 144) != 0x0054004E || NtfsRd32(p + 148) != 0x00530046) // "NTFS"
        return;
    const std::uint16_t usn = NtfsRd16(p + 30);
    for (std::uint32_t k = 1; k <= kLogPageSectors; ++k)
        if (NtfsRd16(p + k * kSectorSize - 2) != usn)
            return;
    AnalyzeRstrRecord(sector);
}

void CNTFSSearchController::AnalyzeIndexRecordSector(std::uint64_t sector, const std::uint8_t* data,
                                                     std::size_t avail) {
    if (!Magic(data, "INDX"))
        return;
    if (avail < kIndexBlockBytes) {
        if (m_pendingIndex.size() < kHeadSectors)
            m_pendingIndex.push_back(sector); // completed from the next chunk
        return;
    }
    if (!CheckIndexBuffer(data, avail))
        return;
    std::memcpy(m_indexBlock.data(), data, kIndexBlockBytes);
    ByteSpan s(m_indexBlock.data(), kIndexBlockBytes);
    ApplyStructureFixups(m_indexBlock.data(), kIndexBlockBytes, s.u16(4), s.u16(6));
    IndexRecordInfo info;
    info.u64Sector = sector;
    info.lsn = s.u64(8);
    info.vcn = s.u64(16);
    const std::uint64_t firstEntry = 24ull + s.u32(24);
    info.parent = s.u32(static_cast<std::size_t>(firstEntry) + 16); // low 32 bits of the parent
    if (!s.ok() || info.parent == kNtfsRootRecord)
        return;
    auto [lo, hi] = m_indexedFolders.equal_range(info.parent);
    for (auto it = lo; it != hi; ++it)
        MatchIndexToFolder(info, it->second);
    m_indexRecords.emplace(info.parent, info);
}

void CNTFSSearchController::MatchIndexToFolder(const IndexRecordInfo& index,
                                               const NtfsIndexedFolderRecord& folder) {
    const std::uint32_t spc = folder.sectorsPerCluster;
    if (spc == 0)
        return;
    // Index blocks count their VCNs in clusters, or in 512-byte units when clusters are larger
    // than index blocks.
    const std::uint64_t clusterBytes = std::uint64_t{spc} * kSectorSize;
    std::uint64_t vcn = index.vcn, inCluster = 0;
    if (clusterBytes > folder.indexBlockSize) {
        vcn = index.vcn / spc;
        inCluster = index.vcn % spc;
    }
    const std::int64_t lcn = MapVcnToLcn(folder.extents, vcn);
    if (lcn < 0 || index.u64Sector < inCluster)
        return;
    Candidate c = MakeNtfsPartitionCandidate(
        index.u64Sector - inCluster, static_cast<std::uint64_t>(lcn),
        static_cast<std::uint8_t>(spc), NTFS_EVIDENCE_INDEX, m_deviceSectors);
    // The folder's record lies in the partition's MFT, after its first sector: a block read
    // with the record of a folder of another volume (folders of volumes made alike share their
    // record numbers) places nothing.
    if (!c || folder.sector < c->m_u64FirstSector)
        return;
    auto [lo, hi] = m_partitions.equal_range(KeyOf(*c));
    if (lo == hi) {
        Insert(std::move(c));
        return;
    }
    for (auto it = lo; it != hi; ++it) {
        it->second->AddEvidence(NTFS_EVIDENCE_INDEX);
        ++it->second->IndexConfirmations();
    }
}

void CNTFSSearchController::AnalyzeFolderRecord(std::uint64_t sector, const std::uint8_t* rec) {
    if (IsExtensionRecord(rec, kNtfsRecordSize))
        return;
    NtfsIndexedFolderRecord folder;
    folder.sector = sector;
    folder.lsn = NtfsRd64(rec + 8);
    const std::uint8_t* alloc = FindAttribute(rec, kNtfsRecordSize, kNtfsAttrIndexAllocation, 0);
    if (!AttributeExtents(rec, kNtfsRecordSize, alloc, folder.extents) || folder.extents.empty())
        return;
    folder.sectorsPerCluster =
        EstimateSectorsPerCluster(AttrAllocatedSize(alloc), GetTotalClusters(folder.extents));
    if (folder.sectorsPerCluster == 0)
        return;
    std::int64_t number = -1;
    if (const std::uint8_t* root = FindAttribute(rec, kNtfsRecordSize, 0x90, 0)) {
        const std::size_t left = kNtfsRecordSize - static_cast<std::size_t>(root - rec);
        number = GetIndexNodeParent(root, left);
        if (!AttrNonResident(root) && AttrValueLength(root) >= 12) {
            const std::uint32_t blockSize = NtfsRd32(AttrValue(root) + 8);
            if (blockSize >= kSectorSize && blockSize <= 65536 &&
                (blockSize & (blockSize - 1)) == 0)
                folder.indexBlockSize = blockSize;
        }
    }
    const std::int64_t header = GetHeaderRecordNumber(rec, kNtfsRecordSize);
    if (header >= 0) {
        folder.headerRecord = static_cast<std::uint32_t>(header);
        folder.headerRecordPresent = 1;
    }
    if (number == -1)
        number = header;
    if (number < 0 || static_cast<std::uint64_t>(number) == kNtfsRootRecord)
        return;
    folder.folderRecord = static_cast<std::uint64_t>(number);
    auto it = m_indexedFolders.emplace(folder.folderRecord, std::move(folder));
    auto [lo, hi] = m_indexRecords.equal_range(it->second.folderRecord);
    for (auto i = lo; i != hi; ++i)
        MatchIndexToFolder(i->second, it->second);
    m_runs.push_back({sector, 1});
}

// ---------------------------------------------------------------------------------------------
// Found names.

void CNTFSSearchController::NoteFoundName(const std::uint8_t* utf16, std::size_t units,
                                          std::uint64_t firstCluster, std::uint64_t sector) {
    char16_t name[256];
    units = std::min<std::size_t>(units, 255);
    for (std::size_t i = 0; i < units; ++i)
        name[i] = static_cast<char16_t>(NtfsRd16(utf16 + 2 * i));
    FoundFileEntry entry;
    if (entry.SetFromWideName(name, units, firstCluster, sector))
        m_foundFiles.Append(entry);
}

std::uint64_t
CNTFSSearchController::CountConfirmedBySignature(const CSearchedNTFSPartitionInfo& r) {
    // Names are kept in ascending sector order: the partition's names are found by search, not
    // by walking every name before them.
    const CRawFileList* carved = m_sink;
    if (!carved)
        return 0;
    const std::uint64_t first = r.m_u64FirstSector;
    std::uint64_t end;
    if (__builtin_add_overflow(first, r.m_u64SectorCount, &end))
        end = UINT64_MAX;
    const auto& entries = m_foundFiles.Entries();
    auto it = std::lower_bound(
        entries.begin(), entries.end(), first,
        [](const FoundFileEntry& e, std::uint64_t s) { return e.entrySector < s; });
    std::uint64_t confirmed = 0;
    for (; it != entries.end() && it->entrySector < end; ++it) {
        std::uint64_t at;
        if (__builtin_mul_overflow(it->firstCluster, std::uint64_t{r.m_sectorsPerCluster}, &at) ||
            __builtin_add_overflow(at, first, &at) || at >= end)
            continue;
        const CRawFileInfo* file = FindRawFileAtSector(carved, at);
        if (file && file->m_u32FileType == it->type)
            ++confirmed;
    }
    return confirmed;
}

// ---------------------------------------------------------------------------------------------
// End of the search.

void CNTFSSearchController::EndSearch() {
    // A structure still waiting for the next chunk will not get it.
    MftCommitAndReset();
    const ScanOptions& options = GetScanOptions();
    auto findNode = [](const std::vector<NtfsRecordNode>& nodes, std::uint64_t exact,
                       std::uint64_t first, std::uint64_t end) -> const NtfsRecordNode* {
        auto less = [](const NtfsRecordNode& n, std::uint64_t s) { return n.sector < s; };
        if (exact != kNtfsUnknown) {
            auto it = std::lower_bound(nodes.begin(), nodes.end(), exact, less);
            if (it != nodes.end() && it->sector == exact)
                return &*it;
        }
        auto it = std::lower_bound(nodes.begin(), nodes.end(), first, less);
        if (it != nodes.end() && it->sector < end)
            return &*it;
        return nullptr;
    };
    const std::size_t n = m_partitions.size();
    std::size_t i = 0;
    for (auto it = m_partitions.begin(); it != m_partitions.end(); ++i) {
        CSearchedNTFSPartitionInfo& r = *it->second;
        const std::uint64_t first = r.m_u64FirstSector;
        const std::uint64_t end = first + r.m_u64SectorCount;
        const std::uint64_t mft = r.m_u64MftRecordSector;
        auto confirm = [&](const std::vector<NtfsRecordNode>& nodes, std::uint64_t offset,
                           const std::vector<NtfsSectorRange>& ranges, std::uint64_t& recordSector,
                           std::uint64_t& confirmed) {
            const NtfsRecordNode* node =
                findNode(nodes, mft == kNtfsUnknown ? kNtfsUnknown : mft + offset, first, end);
            if (!node) {
                confirmed = 0;
                return;
            }
            recordSector = node->sector;
            confirmed = ConfirmedSectors(*node, first, r.m_sectorsPerCluster, ranges);
        };
        confirm(m_attrDef.records, 8, m_attrDef.matched, r.m_u64AttrDefRecordSector,
                r.m_u64AttrDefConfirmed);
        confirm(m_upCase.records, 20, m_upCase.matched, r.m_u64UpCaseRecordSector,
                r.m_u64UpCaseConfirmed);
        confirm(m_logRecords, 4, m_logPages, r.m_u64LogFileRecordSector, r.m_u64LogFileConfirmed);
        if (mft != kNtfsUnknown) {
            r.m_u32UseMftFile = options.UseMftFile;
            r.m_u32MftOnly = options.ShowMftOnlyFiles;
        }
        r.m_u64Score = ComputeNtfsPartitionScore(r);
        if (n < 1001 || i < 1000 || r.m_u64Score > 10) {
            r.m_u64KeptFirstSector = r.m_u64FirstSector;
            r.FilesConfirmed() = CountConfirmedBySignature(r);
            ++it;
        } else {
            it = m_partitions.erase(it);
        }
    }
    MergeCandidatesOfTheSameRecords();
    if (m_partitions.size() > 49) {
        for (auto it = m_partitions.begin(); it != m_partitions.end();) {
            const CSearchedNTFSPartitionInfo& r = *it->second;
            if (r.GetEvidence() == NTFS_EVIDENCE_INDEX && r.m_u64EvidenceA == 0 &&
                r.m_u64EvidenceB == 0)
                it = m_partitions.erase(it);
            else
                ++it;
        }
    }
    FreeSearchState();
}

void CNTFSSearchController::MergeCandidatesOfTheSameRecords() {
    // The run of FILE records a candidate's tree would begin with: the first run with a record
    // inside the candidate. Candidates that begin with the same run would list the same files,
    // all but one of them at the wrong offset: they are one volume.
    std::vector<std::pair<std::uint64_t, std::uint64_t>> runs; // first sector, end
    runs.reserve(m_runs.size());
    for (const FileRecordRun& run : m_runs) {
        std::uint64_t end;
        if (run.recordCount == 0 ||
            __builtin_mul_overflow(run.recordCount, std::uint64_t{kNtfsSectorsPerRecord}, &end) ||
            __builtin_add_overflow(end, run.firstSector, &end))
            continue;
        runs.emplace_back(run.firstSector, end);
    }
    if (runs.empty() || m_partitions.size() < 2)
        return;
    std::sort(runs.begin(), runs.end());
    auto firstRun = [&](const CSearchedNTFSPartitionInfo& r) -> std::uint64_t {
        const std::uint64_t first = r.m_u64FirstSector;
        std::uint64_t end;
        if (__builtin_add_overflow(first, r.m_u64SectorCount, &end))
            end = UINT64_MAX;
        auto it = std::upper_bound(runs.begin(), runs.end(),
                                   std::make_pair(first, UINT64_MAX));
        if (it != runs.begin() && std::prev(it)->second > first)
            --it; // a run that began before the candidate and goes on inside it
        if (it == runs.end())
            return kNtfsUnknown;
        std::uint64_t at = it->first;
        if (at < first)
            at += (first - at + kNtfsSectorsPerRecord - 1) / kNtfsSectorsPerRecord *
                  kNtfsSectorsPerRecord;
        return at < end ? it->first : kNtfsUnknown;
    };
    std::multimap<std::uint64_t, PartitionSet::iterator> byRun;
    for (auto it = m_partitions.begin(); it != m_partitions.end(); ++it) {
        const std::uint64_t run = firstRun(*it->second);
        if (run != kNtfsUnknown)
            byRun.emplace(run, it);
    }
    // In each group the candidate that a boot sector (or its backup) places wins, then the
    // higher score; the first in key order among equals.
    auto better = [](const CSearchedNTFSPartitionInfo& a, const CSearchedNTFSPartitionInfo& b) {
        const std::uint32_t bootBits = NTFS_EVIDENCE_BOOT | NTFS_EVIDENCE_BACKUP_BOOT;
        const bool aBoot = (a.GetEvidence() & bootBits) != 0;
        const bool bBoot = (b.GetEvidence() & bootBits) != 0;
        if (aBoot != bBoot)
            return aBoot;
        return a.m_u64Score > b.m_u64Score;
    };
    for (auto g = byRun.begin(); g != byRun.end();) {
        auto [lo, hi] = byRun.equal_range(g->first);
        auto keep = lo;
        for (auto it = std::next(lo); it != hi; ++it)
            if (better(*it->second->second, *keep->second->second))
                keep = it;
        for (auto it = lo; it != hi; ++it)
            if (it != keep)
                m_partitions.erase(it->second);
        g = hi;
    }
}

void CNTFSSearchController::CollectSearchedPartitions(std::vector<CSearchedPartitionInfo*>& out) {
    for (auto& [key, r] : m_partitions)
        out.push_back(r.release());
    m_partitions.clear();
}

// ---------------------------------------------------------------------------------------------
// Saved state.

int CNTFSSearchController::SaveState(IRSData* section) {
    RSWriteValue<std::uint64_t>(section, m_mftRecords.size());
    for (const NtfsRecordNode& node : m_mftRecords) {
        RSWriteValue<std::uint64_t>(section, node.sector);
        RSWriteValue<std::uint8_t>(section, node.sectorsPerRecord);
        RSWriteValue<std::uint8_t>(section, node.sectorsPerCluster);
        RSWriteValue<std::uint64_t>(section, node.extents.size());
        for (const NtfsExtent& e : node.extents) {
            RSWriteValue<std::uint64_t>(section, static_cast<std::uint64_t>(e.lcn));
            RSWriteValue<std::uint64_t>(section, e.count);
            RSWriteValue<std::uint64_t>(section, e.vcn);
        }
    }
    RSWriteValue<std::uint64_t>(section, m_runs.size());
    for (const FileRecordRun& run : m_runs) {
        RSWriteValue<std::uint64_t>(section, run.firstSector);
        RSWriteValue<std::uint64_t>(section, run.recordCount);
    }
    return 1;
}

int CNTFSSearchController::LoadState(IRSData* section) {
    // Counts come from a file: the lists grow one item per item read, so a damaged count ends
    // in a short read (thrown by the store) rather than a huge allocation.
    const std::uint64_t nodes = RSReadValue<std::uint64_t>(section);
    for (std::uint64_t i = 0; i < nodes; ++i) {
        NtfsRecordNode node;
        node.sector = RSReadValue<std::uint64_t>(section);
        node.sectorsPerRecord = RSReadValue<std::uint8_t>(section);
        node.sectorsPerCluster = RSReadValue<std::uint8_t>(section);
        const std::uint64_t extents = RSReadValue<std::uint64_t>(section);
        for (std::uint64_t k = 0; k < extents; ++k) {
            NtfsExtent e{};
            e.lcn = static_cast<std::int64_t>(RSReadValue<std::uint64_t>(section));
            e.count = RSReadValue<std::uint64_t>(section);
            e.vcn = RSReadValue<std::uint64_t>(section);
            node.extents.push_back(e);
        }
        m_mftSectors.insert(node.sector);
        m_mftRecords.push_back(std::move(node));
    }
    const std::uint64_t runs = RSReadValue<std::uint64_t>(section);
    for (std::uint64_t i = 0; i < runs; ++i) {
        FileRecordRun run;
        run.firstSector = RSReadValue<std::uint64_t>(section);
        run.recordCount = RSReadValue<std::uint64_t>(section);
        m_runs.push_back(run);
    }
    return 1;
}

FileTreePtr CNTFSSearchController::BuildDirectoryTree(CSearchedPartitionInfo* partition,
                                                      IStorageDevice* device,
                                                      std::uint32_t partitionIndex,
                                                      IDIRBuildCallback* callback) {
    CNtfsFoundTreeBuilder builder(&m_mftRecords, &m_runs);
    return BuildFoundNtfsFileTree(&builder, partition, m_sink, device, partitionIndex, callback);
}
