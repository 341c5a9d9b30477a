#include "tests/storage/LdmFixtures.h"

#include "filesystems/probes/VolumeAnalyzers.h"
#include "storage/VolumeProbe.h"
#include "tests/support/FixtureKit.h"

#include <cstring>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ldmtest {

std::string LdmFixtureDir() {
    static const std::string dir = testsupport::CachedFixture("ldm-disks", [](const std::string& tmp) {
        const std::string archive = testsupport::CheckedInFixtureDir() + "/ldm/ldm-data.tar.xz";
        return testsupport::RequireTool("tar") && testsupport::RequireTool("xz") &&
               testsupport::MustRun("mkdir -p " + testsupport::ShellQuote(tmp) + " && tar xJf " +
                                    testsupport::ShellQuote(archive) + " -C " + testsupport::ShellQuote(tmp));
    });
    EXPECT_FALSE(dir.empty()) << "could not unpack the dynamic-disk fixtures";
    return dir;
}

FileDevice::FileDevice(const std::string& path) {
    m_fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (m_fd >= 0 && ::fstat(m_fd, &st) == 0)
        m_sectors = static_cast<std::uint64_t>(st.st_size) / kSectorSize;
}

FileDevice::~FileDevice() {
    if (m_fd >= 0)
        ::close(m_fd);
}

int FileDevice::ReadSectors(void* buffer, std::uint64_t first, std::uint64_t count) {
    if (m_fd < 0 || first >= m_sectors || count > m_sectors - first)
        return 0;
    const std::uint64_t bytes = count * kSectorSize;
    std::uint64_t done = 0;
    while (done < bytes) {
        const ssize_t n = ::pread(m_fd, static_cast<char*>(buffer) + done, bytes - done,
                                  static_cast<off_t>(first * kSectorSize + done));
        if (n <= 0)
            return 0;
        done += static_cast<std::uint64_t>(n);
    }
    return 1;
}

std::vector<std::unique_ptr<IStorageDevice>> OpenLdmDisks(const std::string& set,
                                                          const std::vector<std::string>& names) {
    const std::string dir = LdmFixtureDir();
    std::vector<std::unique_ptr<IStorageDevice>> disks;
    for (const std::string& name : names) {
        auto disk = std::make_unique<FileDevice>(dir + "/ldm-" + set + "-" + name + ".img");
        EXPECT_EQ(1, disk->Open()) << name;
        disks.push_back(std::move(disk));
    }
    return disks;
}

ProbeHooks::ProbeHooks()
    : m_factory(reinterpret_cast<void*>(GetVolumeAnalyzerFactory())),
      m_classifier(reinterpret_cast<void*>(GetBootSectorClassifier())) {
    RegisterVolumeProbes();
}

ProbeHooks::~ProbeHooks() {
    SetVolumeProbeHooks(reinterpret_cast<VolumeAnalyzerFactory>(m_factory),
                        reinterpret_cast<BootSectorClassifier>(m_classifier));
}

std::vector<IStorageDevice*> Pointers(const std::vector<std::unique_ptr<IStorageDevice>>& disks) {
    std::vector<IStorageDevice*> out;
    for (auto& d : disks)
        out.push_back(d.get());
    return out;
}

} // namespace ldmtest
