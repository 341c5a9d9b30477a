#include "storage/BasicPartitionDevice.h"

#include "storage/ImageFileDevice.h"

#include <cstring>

CBasicPartitionDevice::CBasicPartitionDevice(IStorageDevice* inner, std::uint64_t firstSector,
                                             std::uint64_t sectorCount)
    : m_inner(inner), m_firstSector(firstSector), m_sectorCount(sectorCount) {}

int CBasicPartitionDevice::ReadSectors(void* buffer, std::uint64_t first, std::uint64_t count) {
    if (!buffer || !m_inner || first >= m_sectorCount || count > m_sectorCount ||
        !storage_detail::SectorRangeFits(first, count))
        return 0;
    const std::uint64_t n = (count > m_sectorCount - first) ? m_sectorCount - first : count;
    if (m_firstSector > ~std::uint64_t(0) - first)
        return 0;
    const int result = m_inner->ReadSectors(buffer, m_firstSector + first, n);
    if (count > n)
        std::memset(static_cast<std::uint8_t*>(buffer) + n * kSectorSize, 0,
                    static_cast<std::size_t>((count - n) * kSectorSize));
    return result;
}
