#pragma once
// Candidate sequences of the lost-partition search: the sectors where a partition usually
// starts. The cylinder sequences give every cylinder boundary of a classic geometry (heads x 63
// sectors per cylinder), each probed there and one 63-sector track further; the 1 MiB
// sequence gives every multiple of 2048 sectors, where partitioning tools have started
// partitions for many years. A disk that ends inside a cylinder or MiB still has that last,
// partial step probed; no probe lies past the disk's end.
#include <cstdint>

class IPartitionSearchAlgorithm {
public:
    virtual ~IPartitionSearchAlgorithm() = default;

    // Every step that begins on the disk, the last partial one included.
    virtual std::uint64_t GetCandidateCount() const = 0;
    // The next candidate sector; the index grows by one.
    virtual std::uint64_t GetNextCandidate() = 0;
    // 1 when a sector that an earlier sequence of the search already probed is not probed again.
    virtual int SkipsSharedCandidates() const = 0;
    // Sectors after a candidate that are probed besides the candidate itself (0 = none).
    virtual std::uint32_t GetTrackOffset() const = 0;

    // Whether this sequence probes `sector` (a candidate, or a candidate plus the track offset,
    // on the disk).
    bool Probes(std::uint64_t sector) const;

protected:
    IPartitionSearchAlgorithm(std::uint64_t totalSectors, std::uint64_t step)
        : m_u64TotalSectors(totalSectors), m_step(step) {}
    bool IsCandidate(std::uint64_t sector) const {
        return sector % m_step == 0 && sector / m_step < GetCandidateCount();
    }
    // The steps of `step` sectors that begin before the disk's end.
    static std::uint64_t StepsBegun(std::uint64_t totalSectors, std::uint64_t step) {
        return totalSectors / step + (totalSectors % step != 0 ? 1 : 0);
    }

    std::uint64_t m_u64NextIndex = 0;
    std::uint64_t m_u64TotalSectors;
    std::uint64_t m_step;
};

// Cylinder boundaries: candidate count = the cylinders that begin on the disk (total / cylinder
// size, rounded up), candidate j = j x heads x sectors per track; each is probed there and one
// track further when that lies on the disk.
class CCylinderPartitionSearch : public IPartitionSearchAlgorithm {
public:
    static constexpr std::uint32_t kSectorsPerTrack = 63;

    std::uint64_t GetCandidateCount() const override {
        return StepsBegun(m_u64TotalSectors, m_step);
    }
    std::uint64_t GetNextCandidate() override {
        return m_u64NextIndex++ * m_heads * m_sectorsPerTrack;
    }
    std::uint32_t GetTrackOffset() const override { return m_sectorsPerTrack; }
    std::uint32_t GetHeads() const { return m_heads; }
    std::uint32_t GetSectorsPerTrack() const { return m_sectorsPerTrack; }

protected:
    CCylinderPartitionSearch(std::uint64_t totalSectors, std::uint32_t heads,
                             std::uint32_t sectorsPerTrack = kSectorsPerTrack)
        : IPartitionSearchAlgorithm(totalSectors, std::uint64_t{heads} * sectorsPerTrack),
          m_heads(heads), m_sectorsPerTrack(sectorsPerTrack) {}

private:
    std::uint32_t m_heads;
    std::uint32_t m_sectorsPerTrack;
};

// 255 heads: every 16065 sectors. Always the first sequence of a search.
class CPartitionSearchAccordingTo255Head : public CCylinderPartitionSearch {
public:
    explicit CPartitionSearchAccordingTo255Head(std::uint64_t totalSectors)
        : CCylinderPartitionSearch(totalSectors, 255) {}
    int SkipsSharedCandidates() const override { return 0; }
};

// 240 heads: every 15120 sectors; its candidates at multiples of 16065 were probed already.
class CPartitionSearchAccordingTo240Head : public CCylinderPartitionSearch {
public:
    explicit CPartitionSearchAccordingTo240Head(std::uint64_t totalSectors)
        : CCylinderPartitionSearch(totalSectors, 240) {}
    int SkipsSharedCandidates() const override { return 1; }
};

// The cylinders of a geometry that a found boot sector records (heads x sectors per track);
// sectors an earlier sequence probed are not probed again.
class CPartitionSearchAccordingToGeometry : public CCylinderPartitionSearch {
public:
    CPartitionSearchAccordingToGeometry(std::uint64_t totalSectors, std::uint32_t heads,
                                        std::uint32_t sectorsPerTrack)
        : CCylinderPartitionSearch(totalSectors, heads, sectorsPerTrack) {}
    int SkipsSharedCandidates() const override { return 1; }
};

// 1 MiB boundaries: every 2048 sectors (the last partial MiB included), each probed at the
// candidate only.
class CPartitionSearchAccordingTo1MiB : public IPartitionSearchAlgorithm {
public:
    static constexpr std::uint64_t kStep = 2048;
    explicit CPartitionSearchAccordingTo1MiB(std::uint64_t totalSectors)
        : IPartitionSearchAlgorithm(totalSectors, kStep) {}
    std::uint64_t GetCandidateCount() const override {
        return StepsBegun(m_u64TotalSectors, kStep);
    }
    std::uint64_t GetNextCandidate() override { return m_u64NextIndex++ * kStep; }
    int SkipsSharedCandidates() const override { return 1; }
    std::uint32_t GetTrackOffset() const override { return 0; }
};
