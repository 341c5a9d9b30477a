#include "filesystems/fat/FatDirectorySectors.h"

#include "filesystems/StoreSection.h"

#include <algorithm>

namespace {
bool BySector(const FatDirectorySectorRecord& a, std::uint64_t sector) { return a.sector < sector; }
} // namespace

bool FatDirectorySectorSet::Insert(const FatDirectorySectorRecord& record) {
    if (m_records.empty() || m_records.back().sector < record.sector) {
        m_records.push_back(record);
        return true;
    }
    auto it = std::lower_bound(m_records.begin(), m_records.end(), record.sector, BySector);
    if (it != m_records.end() && it->sector == record.sector)
        return false;
    m_records.insert(it, record);
    return true;
}

std::pair<FatDirectorySectorSet::const_iterator, FatDirectorySectorSet::const_iterator>
FatDirectorySectorSet::Range(std::uint64_t first, std::uint64_t end) const {
    auto lo = std::lower_bound(m_records.begin(), m_records.end(), first, BySector);
    auto hi = end > first ? std::lower_bound(lo, m_records.end(), end, BySector) : lo;
    return {lo, hi};
}

const FatDirectorySectorRecord* FatDirectorySectorSet::Find(std::uint64_t sector) const {
    auto it = std::lower_bound(m_records.begin(), m_records.end(), sector, BySector);
    return it != m_records.end() && it->sector == sector ? &*it : nullptr;
}

void FatDirectorySectorSet::Save(IRSData* section) const {
    RSWriteValue<std::uint32_t>(section, static_cast<std::uint32_t>(m_records.size()));
    for (const FatDirectorySectorRecord& r : m_records) {
        RSWriteValue<std::uint64_t>(section, r.sector);
        RSWriteValue<std::uint32_t>(section, r.dotCluster);
        RSWriteValue<std::uint32_t>(section, r.dotDotCluster);
    }
}

void FatDirectorySectorSet::Load(IRSData* section) {
    m_records.clear();
    const std::uint32_t count = RSReadValue<std::uint32_t>(section);
    for (std::uint32_t i = 0; i < count; ++i) {
        FatDirectorySectorRecord r;
        r.sector = RSReadValue<std::uint64_t>(section);
        r.dotCluster = RSReadValue<std::uint32_t>(section);
        r.dotDotCluster = RSReadValue<std::uint32_t>(section);
        Insert(r);
    }
}
