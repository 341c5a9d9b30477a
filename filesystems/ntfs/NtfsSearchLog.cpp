#include "filesystems/ntfs/NtfsSearchController.h"

#include "filesystems/ntfs/NtfsSearchInternal.h"
#include "storage/ByteSpan.h"

#include <algorithm>

using namespace ntfs_search;

// $LogFile: its records, restart pages and log record pages.

CNTFSSearchController::Candidate
CNTFSSearchController::MakeLogCandidate(std::uint64_t page, const LogStart& log,
                                        std::uint32_t evidence) const {
    Candidate c = MakeNtfsPartitionCandidate(page, static_cast<std::uint64_t>(log.cluster), log.spc,
                                             evidence, m_deviceSectors);
    // The $LogFile record lies in the partition's MFT, after its first sector: a page read
    // with the record of a volume before it places nothing.
    if (c && log.lastRecord < c->m_u64FirstSector)
        c.reset();
    return c;
}

// A restart page whose twin was not seen: it may be the first of the pair, or the second with
// the first one page before it.
void CNTFSSearchController::MarkLoneRestartPage(std::uint64_t page, const LogStart& log) {
    MarkOrInsert(MakeLogCandidate(page, log, NTFS_EVIDENCE_LOG_FIRST), NTFS_EVIDENCE_LOG_FIRST);
    if (page > kNtfsLogPageSectors)
        MarkOrInsert(MakeLogCandidate(page - kNtfsLogPageSectors, log, NTFS_EVIDENCE_LOG_SECOND),
                     NTFS_EVIDENCE_LOG_SECOND);
}

void CNTFSSearchController::AnalyzeRstrRecord(std::uint64_t page) {
    if (m_pass.log.restartPages.size() >= kNtfsSearchListCap)
        return;
    const bool second = !m_pass.log.restartPages.empty() && page >= kNtfsLogPageSectors &&
                        m_pass.log.restartPages.back() == page - kNtfsLogPageSectors;
    for (const LogStart& log : m_pass.log.starts) {
        if (second) {
            if (Candidate c =
                    MakeLogCandidate(page - kNtfsLogPageSectors, log, NTFS_EVIDENCE_LOG_SECOND))
                UpdateEvidence(KeyOf(*c), NTFS_EVIDENCE_LOG_SECOND, 0);
            if (Candidate c = MakeLogCandidate(page, log, NTFS_EVIDENCE_LOG_FIRST))
                UpdateEvidence(KeyOf(*c), 0, NTFS_EVIDENCE_LOG_FIRST);
        } else {
            MarkLoneRestartPage(page, log);
        }
    }
    m_pass.log.restartPages.push_back(page);
}

void CNTFSSearchController::AnalyzeLogFileRecord(const NtfsRecordNode& node) {
    const std::int64_t cluster = node.FirstCluster();
    const std::uint8_t spc = node.sectorsPerCluster;
    if (cluster != -1 && spc != 0) {
        auto known =
            std::find_if(m_pass.log.starts.begin(), m_pass.log.starts.end(),
                         [&](const LogStart& l) { return l.cluster == cluster && l.spc == spc; });
        if (known != m_pass.log.starts.end()) {
            known->lastRecord = std::max(known->lastRecord, node.sector);
        } else {
            const LogStart log{cluster, spc, node.sector};
            for (std::size_t i = 0; i < m_pass.log.restartPages.size(); ++i) {
                const std::uint64_t p = m_pass.log.restartPages[i];
                if (i + 1 < m_pass.log.restartPages.size() &&
                    m_pass.log.restartPages[i + 1] == p + kNtfsLogPageSectors) {
                    MarkOrInsert(MakeLogCandidate(
                                     p, log, NTFS_EVIDENCE_LOG_FIRST | NTFS_EVIDENCE_LOG_SECOND),
                                 NTFS_EVIDENCE_LOG_FIRST | NTFS_EVIDENCE_LOG_SECOND);
                    ++i;
                } else {
                    MarkLoneRestartPage(p, log);
                }
            }
            m_pass.log.starts.push_back(log);
        }
    }
    m_pass.log.records.push_back(node);
}

void CNTFSSearchController::ScanLogRecordPages(std::uint64_t first, std::uint64_t count,
                                               const std::uint8_t* data) {
    const std::uint64_t end = first + count;
    // `p` starts a whole page (the callers know its sectors are there).
    auto valid = [](const std::uint8_t* p) {
        const ByteSpan page(p, kNtfsLogPageSectors * kSectorSize);
        if (page.u16(kNtfsRecordPageUsaOffsetField) != kNtfsRecordPageUsaOffset ||
            page.u16(kNtfsRecordPageUsaCountField) != kNtfsRecordPageUsaCount)
            return false;
        const std::uint16_t usn = page.u16(kNtfsRecordPageUsaOffset);
        for (std::uint32_t k = 1; k <= kNtfsLogPageSectors; ++k)
            if (page.u16(k * kSectorSize - 2) != usn)
                return false;
        return true;
    };
    std::uint64_t s = first;
    if (m_pass.chunk.pendingLogPage != kNtfsUnknown) {
        const std::uint64_t p = m_pass.chunk.pendingLogPage;
        m_pass.chunk.pendingLogPage = kNtfsUnknown;
        if (p < first && first - p <= kHeadSectors && p + kNtfsLogPageSectors <= end) {
            if (valid(data - static_cast<std::ptrdiff_t>(first - p) * kSectorSize))
                AddToRanges(m_pass.log.recordPages, p, kNtfsLogPageSectors);
            s = p + kNtfsLogPageSectors;
        }
    }
    while (s < end) {
        const std::uint8_t* p = data + (s - first) * kSectorSize;
        if (!Magic(p, "RCRD")) {
            ++s;
            continue;
        }
        if (end - s < kNtfsLogPageSectors) {
            m_pass.chunk.pendingLogPage = s; // completed from the next chunk
            break;
        }
        if (valid(p))
            AddToRanges(m_pass.log.recordPages, s, kNtfsLogPageSectors);
        s += kNtfsLogPageSectors;
    }
}
