#include "filesystems/ntfs/NtfsSearchController.h"

#include "carving/records/FoundFileEntry.h"
#include "carving/records/RawFileInfo.h"
#include "filesystems/FileProperties.h"
#include "filesystems/ntfs/NtfsSearchInternal.h"

#include <algorithm>

namespace {

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

} // namespace

// Evidence editing over the candidates, and the end of the search that scores, confirms and
// thins them.

int CNTFSSearchController::UpdateEvidence(const Key& key, std::uint32_t set, std::uint32_t clear) {
    auto [lo, hi] = m_candidates.partitions.equal_range(key);
    if (lo == hi)
        return 0;
    for (auto it = lo; it != hi;) {
        CSearchedNTFSPartitionInfo& r = *it->second;
        r.SetEvidence((r.GetEvidence() & ~clear) | (set & ~clear));
        if (r.GetEvidence() == 0)
            it = m_candidates.partitions.erase(it); // nothing refers to it any more: freed
        else
            ++it;
    }
    return 1;
}

void CNTFSSearchController::Insert(Candidate c) {
    c->m_u32Identity = m_candidates.nextIdentity++;
    const Key key = KeyOf(*c);
    m_candidates.partitions.emplace(key, std::move(c));
}

void CNTFSSearchController::MarkOrInsert(Candidate c, std::uint32_t bits) {
    if (!c)
        return;
    if (!UpdateEvidence(KeyOf(*c), bits, 0))
        Insert(std::move(c));
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
    const auto& entries = m_pass.evidence.foundFiles.Entries();
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
    const std::size_t n = m_candidates.partitions.size();
    std::size_t i = 0;
    for (auto it = m_candidates.partitions.begin(); it != m_candidates.partitions.end(); ++i) {
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
        confirm(m_pass.evidence.attrDef.records, 8, m_pass.evidence.attrDef.matched,
                r.m_u64AttrDefRecordSector, r.m_u64AttrDefConfirmed);
        confirm(m_pass.evidence.upCase.records, 20, m_pass.evidence.upCase.matched,
                r.m_u64UpCaseRecordSector, r.m_u64UpCaseConfirmed);
        confirm(m_pass.log.records, 4, m_pass.log.recordPages, r.m_u64LogFileRecordSector,
                r.m_u64LogFileConfirmed);
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
            it = m_candidates.partitions.erase(it);
        }
    }
    MergeCandidatesOfTheSameRecords();
    if (m_candidates.partitions.size() > 49) {
        for (auto it = m_candidates.partitions.begin(); it != m_candidates.partitions.end();) {
            const CSearchedNTFSPartitionInfo& r = *it->second;
            if (r.GetEvidence() == NTFS_EVIDENCE_INDEX && r.m_u64EvidenceA == 0 &&
                r.m_u64EvidenceB == 0)
                it = m_candidates.partitions.erase(it);
            else
                ++it;
        }
    }
    m_pass = {};
    m_searching = false;
}

void CNTFSSearchController::MergeCandidatesOfTheSameRecords() {
    // The run of FILE records a candidate's tree would begin with: the first run with a record
    // inside the candidate. Candidates that begin with the same run would list the same files,
    // all but one of them at the wrong offset: they are one volume.
    std::vector<std::pair<std::uint64_t, std::uint64_t>> runs; // first sector, end
    runs.reserve(m_kept.runs.size());
    for (const FileRecordRun& run : m_kept.runs) {
        std::uint64_t end;
        if (run.recordCount == 0 ||
            __builtin_mul_overflow(run.recordCount, std::uint64_t{kNtfsSectorsPerRecord}, &end) ||
            __builtin_add_overflow(end, run.firstSector, &end))
            continue;
        runs.emplace_back(run.firstSector, end);
    }
    if (runs.empty() || m_candidates.partitions.size() < 2)
        return;
    std::sort(runs.begin(), runs.end());
    auto firstRun = [&](const CSearchedNTFSPartitionInfo& r) -> std::uint64_t {
        const std::uint64_t first = r.m_u64FirstSector;
        std::uint64_t end;
        if (__builtin_add_overflow(first, r.m_u64SectorCount, &end))
            end = UINT64_MAX;
        auto it = std::upper_bound(runs.begin(), runs.end(), std::make_pair(first, UINT64_MAX));
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
    for (auto it = m_candidates.partitions.begin(); it != m_candidates.partitions.end(); ++it) {
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
                m_candidates.partitions.erase(it->second);
        g = hi;
    }
}
