#pragma once
// A plain (raw) image file as a sector device.
#include "platform/File.h"
#include "storage/StorageDevice.h"

#include <cstdint>
#include <string>

class CImageFileDevice : public IStorageDevice {
public:
    // Keeps the path when it is non-empty and shorter than kMaxImagePath, then opens it
    // read-only; otherwise the device stays closed.
    explicit CImageFileDevice(const char* path);
    ~CImageFileDevice() override = default;

    // Unclipped: a read that runs past the end of the file returns 0.
    int ReadSectors(void* buffer, std::uint64_t firstSector, std::uint64_t sectorCount) override;
    // File size / 512, rounded down; 0 when not open.
    std::uint64_t GetSectorCount() override;
    int Open() override;
    int Close() override;

    const std::string& GetPath() const { return m_path; }
    static constexpr std::size_t kMaxImagePath = 4096;

private:
    platform::FileHandle m_file;
    std::string m_path;
};

namespace storage_detail {
// One positioned read of `count` whole sectors; 1 only when all of them arrived. Rejects a
// request whose byte offset or length does not fit 64 bits.
int ReadWholeSectors(int fd, void* buffer, std::uint64_t first, std::uint64_t count);
// True when first + count and count * 512 fit in 64 bits.
bool SectorRangeFits(std::uint64_t first, std::uint64_t count);
} // namespace storage_detail
