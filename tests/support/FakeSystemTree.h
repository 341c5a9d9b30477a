#pragma once
// A fake /sys, /dev and mountinfo under a scratch folder, laid out as the kernel lays them
// out (block links into a devices tree, device links, attribute files), so that drive and
// volume tables can be tested without root. Install() points the platform at it until the
// object is destroyed.
#include "platform/SystemRoots.h"

#include <cstdint>
#include <map>
#include <string>

namespace testsupport {

struct FakeDisk {
    std::string name;       // kernel name, e.g. "sda"
    // Folder of the disk's device below <sys>, e.g.
    // "devices/pci0000:00/0000:00:1f.2/ata1/host0/target0:0:0/0:0:0:0";
    // for a loop device "devices/virtual/block" (the block folder is then the device folder).
    std::string devicePath;
    std::map<std::string, std::string> deviceAttrs; // files in device/: vendor, model, rev, ...
    std::map<std::string, std::string> blockAttrs;  // files in the block folder: size, removable,
                                                    // loop/backing_file, ...
    std::string image;      // what <dev>/<name> links to ("" = no node)
    std::uint32_t major = 8;
    std::uint32_t minor = 0;
};

class FakeSystemTree {
public:
    explicit FakeSystemTree(const std::string& root);
    ~FakeSystemTree();
    FakeSystemTree(const FakeSystemTree&) = delete;
    FakeSystemTree& operator=(const FakeSystemTree&) = delete;

    void AddDisk(const FakeDisk& disk);
    // A partition folder <disk block folder>/<name> with start, size and partition number,
    // its <sys>/dev/block link and (when image is given) its /dev node.
    void AddPartition(const std::string& disk, const std::string& name, std::uint32_t major,
                      std::uint32_t minor, std::uint64_t start, std::uint64_t size,
                      const std::string& image = "");
    // Writes a file below <sys> (creating folders), e.g. an ancestor's "serial".
    void WriteSysFile(const std::string& relPath, const std::string& text);
    void SetMountInfo(const std::string& text);

    platform::SystemRoots Roots() const { return m_roots; }
    // Makes the platform read this tree (until destruction or Uninstall).
    void Install();
    void Uninstall();

private:
    std::string BlockFolder(const std::string& name) const;
    platform::SystemRoots m_roots;
    std::map<std::string, std::string> m_blockFolders; // disk name -> absolute block folder
    bool m_installed = false;
};

} // namespace testsupport
