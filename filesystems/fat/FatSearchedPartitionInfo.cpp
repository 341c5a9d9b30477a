#include "filesystems/fat/FatSearchedPartitionInfo.h"

#include "filesystems/StoreSection.h"

#include <new>

int CFATSearchedPartitionInfo::Save(IRSData* section) const {
    SaveFields(section);
    RSWriteValue<std::uint16_t>(section, m_u16ReservedSectors);
    RSWriteValue<std::uint32_t>(section, m_u32SectorsPerFat);
    RSWriteValue<std::uint32_t>(section, m_u32ClusterCount);
    RSWriteValue<std::uint32_t>(section, m_u32Root);
    RSWriteValue<std::uint32_t>(section, m_u32EvidenceFlags);
    return 1;
}

int CFATSearchedPartitionInfo::Load(IRSData* section) {
    LoadFields(section);
    m_u16ReservedSectors = RSReadValue<std::uint16_t>(section);
    m_u32SectorsPerFat = RSReadValue<std::uint32_t>(section);
    m_u32ClusterCount = RSReadValue<std::uint32_t>(section);
    m_u32Root = RSReadValue<std::uint32_t>(section);
    m_u32EvidenceFlags = RSReadValue<std::uint32_t>(section);
    return 1;
}

CFATSearchedPartitionInfo* CreateFATSearchedPartitionInfo() {
    return new (std::nothrow) CFATSearchedPartitionInfo();
}
