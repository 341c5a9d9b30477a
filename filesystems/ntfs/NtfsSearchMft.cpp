#include "filesystems/ntfs/NtfsSearchController.h"

#include "filesystems/ntfs/NtfsSearchInternal.h"

#include <algorithm>

using namespace ntfs_search;

// The $MFT sequence: $MFT, $MFTMirr ... $BadClus records in a row, and what the pair of the
// first two tells about where their partition starts.

void CNTFSSearchController::MftSee(std::uint64_t sector, const std::uint8_t* rec, int systemFile) {
    NtfsMftSequence& seq = m_pass.mft;
    const bool near = seq.lastMftSector != kNtfsUnknown && sector >= seq.lastMftSector &&
                      sector - seq.lastMftSector <= kMftWindow;
    if (!rec && seq.pendingMft >= 0 && near && ((sector - seq.lastMftSector) & 1))
        return; // the second half of a record of the sequence
    if (!rec || systemFile == -1 || seq.pendingMft < 0 || !near ||
        static_cast<std::uint64_t>(systemFile) != (sector - seq.lastMftSector) / 2)
        MftCommitAndReset();
    if (!rec)
        return;
    if (seq.pendingMft >= 0)
        seq.last = std::max(seq.last, systemFile); // the sequence goes on
    if (systemFile == 0) {
        seq.lastMftSector = sector;
        seq.last = 0;
        NtfsRecordNode node;
        if (m_kept.mftRecords.size() < kNtfsSearchListCap) {
            if (MakeShortNode(sector, rec, kNtfsRecordSize, node)) {
                m_kept.mftSectors.insert(sector);
                m_kept.mftRecords.push_back(std::move(node));
                seq.pendingMft = static_cast<std::int64_t>(m_kept.mftRecords.size() - 1);
            } else {
                MftCommitAndReset();
            }
        }
    } else if (systemFile == 1) {
        NtfsRecordNode node;
        if (seq.mirrorRecords.size() < kNtfsSearchListCap) {
            if (MakeLongNode(sector, rec, kNtfsRecordSize, node)) {
                seq.mirrorRecords.push_back(std::move(node));
                seq.pendingMirror = static_cast<std::int64_t>(seq.mirrorRecords.size() - 1);
            } else {
                MftCommitAndReset();
            }
        }
    } else if (systemFile == 6 && m_useVolumeSize) {
        const NtfsAttributeView data = FindUnnamedData(rec, kNtfsRecordSize);
        if (data) {
            const std::uint64_t bytes = data.NonResident() ? data.DataSize() : data.ValueLength();
            if (bytes > 0 && bytes <= (UINT64_MAX >> 4)) {
                seq.bitmapClusters = bytes * 8;
                if (seq.bitmapRecords.size() < kNtfsSearchListCap)
                    seq.bitmapRecords[sector] = seq.bitmapClusters;
            }
        }
    }
}

void CNTFSSearchController::MftCommitAndReset() {
    NtfsMftSequence& seq = m_pass.mft;
    if (seq.pendingMft >= 0) {
        // Copies: the analyses below may append to the lists the indices point into.
        const NtfsRecordNode mft = m_kept.mftRecords[static_cast<std::size_t>(seq.pendingMft)];
        if (seq.pendingMirror < 0) {
            MakeMftCandidates(mft);
        } else {
            const NtfsRecordNode mirror =
                seq.mirrorRecords[static_cast<std::size_t>(seq.pendingMirror)];
            // The $MFTMirr copy holds records 0 to 3 only; the MFT itself goes on with
            // $AttrDef, the root folder, $Bitmap ...
            AnalyzeMftPair(mft, mirror, seq.last < 4);
            seq.pairs.emplace_back(static_cast<std::size_t>(seq.pendingMft),
                                   static_cast<std::size_t>(seq.pendingMirror));
        }
    }
    seq.EndSequence();
}

void CNTFSSearchController::MftFacts(CSearchedNTFSPartitionInfo& r) const {
    if (r.m_u64MftRecordSector == kNtfsUnknown)
        r.m_u64MftRecordSector = m_pass.mft.lastMftSector;
    ApplyBitmapSize(r, m_pass.mft.bitmapClusters);
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
            auto [lo, hi] = m_candidates.partitions.equal_range(key);
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
        auto [lo, hi] = m_candidates.partitions.equal_range(k);
        for (auto it = lo; it != hi; ++it)
            it->second->SetEvidence((it->second->GetEvidence() | NTFS_EVIDENCE_MFT_AND_MIRROR) &
                                    ~(NTFS_EVIDENCE_MFT | NTFS_EVIDENCE_MIRROR));
        return lo != hi;
    };
    if (m_kept.mftSectors.count(mftAt)) {
        both(key); // the MFT was seen where this mirror's partition keeps it
        return;
    }
    if (UpdateEvidence(key, NTFS_EVIDENCE_MIRROR, 0)) {
        auto [lo, hi] = m_candidates.partitions.equal_range(key);
        for (auto it = lo; it != hi; ++it)
            MftFacts(*it->second);
        return;
    }
    // Read as the MFT itself: its partition's mirror copy may have been seen already (a mirror
    // in the partition's first clusters comes before the MFT).
    std::uint64_t mftOffset = 0, mirrorAt = 0;
    const bool mftFits =
        !__builtin_mul_overflow(mftCluster, spc, &mftOffset) && mftOffset <= mft.sector;
    const Key mftKey{mft.sector - (mftFits ? mftOffset : 0), mft.sectorsPerCluster};
    if (!mirrorCopy && mftFits &&
        !__builtin_mul_overflow(static_cast<std::uint64_t>(mirrorCluster), spc, &mirrorAt) &&
        !__builtin_add_overflow(mirrorAt, mftKey.first, &mirrorAt) &&
        m_kept.mftSectors.count(mirrorAt) && both(mftKey)) {
        auto [lo, hi] = m_candidates.partitions.equal_range(mftKey);
        for (auto it = lo; it != hi; ++it)
            MftFacts(*it->second);
        return;
    }
    if (mirrorCopy && !(mftFits && m_candidates.partitions.count(mftKey))) {
        // Four records and no more, and no partition known at the MFT reading: the $MFTMirr
        // copy of a partition whose MFT is gone. Never the MFT of a partition before it. Its
        // $Bitmap record, when the rest of the MFT was seen, tells its size.
        std::uint64_t bitmapAt;
        if (!__builtin_mul_overflow(mftCluster, spc, &bitmapAt) &&
            !__builtin_add_overflow(bitmapAt, c->m_u64FirstSector, &bitmapAt) &&
            !__builtin_add_overflow(bitmapAt, 6 * kNtfsSectorsPerRecord, &bitmapAt)) {
            auto b = m_pass.mft.bitmapRecords.find(bitmapAt);
            if (b != m_pass.mft.bitmapRecords.end())
                ApplyBitmapSize(*c, b->second);
        }
        Insert(std::move(c));
        return;
    }
    MakeMftCandidates(mft);
}
