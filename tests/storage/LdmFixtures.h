#pragma once
// The dynamic disks made by Windows (shared fixtures), unpacked once per build tree, and a plain
// read-only file device to open them with.
#include "storage/StorageDevice.h"

#include <memory>
#include <string>
#include <vector>

namespace ldmtest {

// Folder holding ldm-<set>-<name>.img; "" (and a test failure) when unpacking failed.
std::string LdmFixtureDir();

// A read-only image file as a sector device; reads past the end fail.
class FileDevice : public IStorageDevice {
public:
    explicit FileDevice(const std::string& path);
    ~FileDevice() override;
    int ReadSectors(void* buffer, std::uint64_t first, std::uint64_t count) override;
    std::uint64_t GetSectorCount() override { return m_sectors; }
    int Open() override { return m_fd >= 0; }
    int Close() override { return 1; }

private:
    int m_fd = -1;
    std::uint64_t m_sectors = 0;
};

// Opens ldm-<set>-<name>.img for each name (in the order given).
std::vector<std::unique_ptr<IStorageDevice>> OpenLdmDisks(const std::string& set,
                                                          const std::vector<std::string>& names);
// Installs, for its lifetime, the system's volume probes (NTFS and FAT), and restores the
// previous ones afterwards.
class ProbeHooks {
public:
    ProbeHooks();
    ~ProbeHooks();

private:
    void* m_factory;
    void* m_classifier;
};

std::vector<IStorageDevice*> Pointers(const std::vector<std::unique_ptr<IStorageDevice>>& disks);

} // namespace ldmtest
