#include "carving/partition/PartitionSearchAlgorithm.h"

bool IPartitionSearchAlgorithm::Probes(std::uint64_t sector) const {
    if (sector >= m_u64TotalSectors)
        return false;
    if (IsCandidate(sector))
        return true;
    const std::uint32_t offset = GetTrackOffset();
    return offset != 0 && sector >= offset && IsCandidate(sector - offset);
}
