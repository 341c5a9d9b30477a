#include "tools/FileFilters.h"

#include "filesystems/FileProperties.h"

namespace {
constexpr std::uint32_t kValidAttributes = 0x04;
constexpr std::uint32_t kValidState = 0x40;
constexpr std::uint32_t kAttributeBitsLookedAt = 0x01 | 0x02 | 0x04 | 0x08 | 0x10 | 0x20 | 0x40 | 0x400 | 0x800;
} // namespace

bool CFileAttributeFilter::Match(const IFileProperties* p) const {
    if (!p || !(p->GetValidFields() & kValidAttributes))
        return false;
    if (m_mask == kFilterEveryFile)
        return true;
    return (m_mask & p->GetAttributes() & kAttributeBitsLookedAt) != 0;
}

bool CFileStateFilter::Match(const IFileProperties* p) const {
    if (!p || !(p->GetValidFields() & kValidState))
        return false;
    if (m_mask == kFilterEveryFile)
        return true;
    return p->GetFileState() != 0 && (m_mask & 7) != 0;
}
