#include "storage/ImageFileDevice.h"

#include <cstring>
#include <limits>

namespace storage_detail {

bool SectorRangeFits(std::uint64_t first, std::uint64_t count) {
    constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
    return count <= kMax / kSectorSize && first <= kMax - count && first <= kMax / kSectorSize &&
           count * kSectorSize <= static_cast<std::uint64_t>(std::numeric_limits<std::size_t>::max());
}

int ReadWholeSectors(int fd, void* buffer, std::uint64_t first, std::uint64_t count) {
    if (fd < 0 || !buffer || !SectorRangeFits(first, count))
        return 0;
    const std::uint64_t bytes = count * kSectorSize;
    std::int64_t got = platform::ReadAt(fd, buffer, static_cast<std::size_t>(bytes), first * kSectorSize);
    return (got >= 0 && static_cast<std::uint64_t>(got) == bytes) ? 1 : 0;
}

} // namespace storage_detail

CImageFileDevice::CImageFileDevice(const char* path) {
    if (path && *path && std::strlen(path) < kMaxImagePath)
        m_path = path;
    Open();
}

int CImageFileDevice::Open() {
    if (m_path.empty())
        return 0;
    m_file = platform::OpenReadOnly(m_path);
    return m_file.Valid() ? 1 : 0;
}

int CImageFileDevice::Close() {
    m_file.Close();
    return 1;
}

int CImageFileDevice::ReadSectors(void* buffer, std::uint64_t first, std::uint64_t count) {
    return storage_detail::ReadWholeSectors(m_file.Get(), buffer, first, count);
}

std::uint64_t CImageFileDevice::GetSectorCount() {
    std::uint64_t bytes = 0;
    if (!m_file.Valid() || !platform::GetSize(m_file.Get(), bytes))
        return 0;
    return bytes / kSectorSize;
}
