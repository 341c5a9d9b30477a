#include "tests/support/FakeSystemTree.h"

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace testsupport {
namespace {
void WriteText(const fs::path& p, const std::string& text) {
    fs::create_directories(p.parent_path());
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << text;
}
void Link(const fs::path& target, const fs::path& link) {
    fs::create_directories(link.parent_path());
    std::error_code ec;
    fs::remove(link, ec);
    fs::create_symlink(target, link);
}
} // namespace

FakeSystemTree::FakeSystemTree(const std::string& root) {
    m_roots.sys = root + "/sys";
    m_roots.dev = root + "/dev";
    m_roots.mountInfo = root + "/mountinfo";
    fs::create_directories(m_roots.sys + "/block");
    fs::create_directories(m_roots.sys + "/dev/block");
    fs::create_directories(m_roots.dev);
    WriteText(m_roots.mountInfo, "");
}

FakeSystemTree::~FakeSystemTree() { Uninstall(); }

std::string FakeSystemTree::BlockFolder(const std::string& name) const {
    auto it = m_blockFolders.find(name);
    return it == m_blockFolders.end() ? std::string() : it->second;
}

void FakeSystemTree::AddDisk(const FakeDisk& disk) {
    const fs::path sys(m_roots.sys);
    const bool virt = disk.devicePath.rfind("devices/virtual/", 0) == 0;
    const fs::path blockFolder =
        virt ? sys / disk.devicePath / disk.name : sys / disk.devicePath / "block" / disk.name;
    fs::create_directories(blockFolder);
    m_blockFolders[disk.name] = blockFolder.string();
    // <sys>/block/<name> -> ../devices/.../block/<name>, relative as the kernel writes it.
    Link(fs::path("..") / fs::relative(blockFolder, sys), sys / "block" / disk.name);
    if (!virt) {
        Link(sys / disk.devicePath, blockFolder / "device");
        for (const auto& [file, text] : disk.deviceAttrs)
            WriteText(sys / disk.devicePath / file, text + "\n");
    }
    for (const auto& [file, text] : disk.blockAttrs)
        WriteText(blockFolder / file, text + "\n");
    WriteText(blockFolder / "dev", std::to_string(disk.major) + ":" + std::to_string(disk.minor) + "\n");
    WriteText(blockFolder / "uevent", "DEVNAME=" + disk.name + "\nDEVTYPE=disk\n");
    Link(fs::path("../..") / fs::relative(blockFolder, sys),
         sys / "dev/block" / (std::to_string(disk.major) + ":" + std::to_string(disk.minor)));
    if (!disk.image.empty())
        Link(fs::absolute(disk.image), fs::path(m_roots.dev) / disk.name);
}

void FakeSystemTree::AddPartition(const std::string& disk, const std::string& name,
                                  std::uint32_t major, std::uint32_t minor, std::uint64_t start,
                                  std::uint64_t size, const std::string& image) {
    const fs::path sys(m_roots.sys);
    const fs::path folder = fs::path(BlockFolder(disk)) / name;
    fs::create_directories(folder);
    WriteText(folder / "start", std::to_string(start) + "\n");
    WriteText(folder / "size", std::to_string(size) + "\n");
    WriteText(folder / "partition", name.substr(name.find_last_not_of("0123456789") + 1) + "\n");
    WriteText(folder / "dev", std::to_string(major) + ":" + std::to_string(minor) + "\n");
    WriteText(folder / "uevent", "DEVNAME=" + name + "\nDEVTYPE=partition\n");
    Link(fs::path("../..") / fs::relative(folder, sys),
         sys / "dev/block" / (std::to_string(major) + ":" + std::to_string(minor)));
    if (!image.empty())
        Link(fs::absolute(image), fs::path(m_roots.dev) / name);
}

void FakeSystemTree::WriteSysFile(const std::string& relPath, const std::string& text) {
    WriteText(fs::path(m_roots.sys) / relPath, text);
}

void FakeSystemTree::SetMountInfo(const std::string& text) { WriteText(m_roots.mountInfo, text); }

void FakeSystemTree::Install() {
    platform::SetSystemRoots(m_roots);
    m_installed = true;
}

void FakeSystemTree::Uninstall() {
    if (m_installed)
        platform::ResetSystemRoots();
    m_installed = false;
}

} // namespace testsupport
