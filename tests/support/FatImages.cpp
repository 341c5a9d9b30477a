#include "tests/support/FatImages.h"

#include "tests/support/FixtureKit.h"

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <unistd.h>

namespace testsupport {

bool RequireFatTools() {
    bool ok = true;
    for (const char* tool : {"mkfs.fat", "mmd", "mcopy", "mdel", "mdeltree", "mdir", "sfdisk"})
        ok = RequireTool(tool) && ok;
    return ok;
}

std::vector<std::uint8_t> LoadImageBytes(const std::string& path) {
    std::vector<std::uint8_t> bytes;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return bytes;
    std::error_code ec;
    auto size = std::filesystem::file_size(path, ec);
    if (!ec) {
        bytes.resize(size);
        bytes.resize(std::fread(bytes.data(), 1, bytes.size(), f));
    }
    std::fclose(f);
    return bytes;
}

bool FatImage::Format(const std::string& path, const FatImageOptions& o) {
    std::string q = ShellQuote(path);
    std::uint64_t totalKiB = o.sizeKiB + (o.offsetSectors * 512 + 1023) / 1024;
    std::string cmd = "rm -f " + q + " && truncate -s " + std::to_string(totalKiB) + "K " + q;
    if (o.offsetSectors) {
        const char* type = o.fatBits == 12 ? "01" : o.fatBits == 16 ? "06" : "0c";
        cmd += " && echo 'start=" + std::to_string(o.offsetSectors) + ", size=" +
               std::to_string(std::uint64_t(o.sizeKiB) * 2) + ", type=" + type +
               "' | sfdisk -q " + q;
    }
    cmd += " && mkfs.fat -F " + std::to_string(o.fatBits);
    if (o.offsetSectors)
        cmd += " --offset=" + std::to_string(o.offsetSectors) + " -h " +
               std::to_string(o.offsetSectors);
    if (o.sectorsPerCluster)
        cmd += " -s " + std::to_string(o.sectorsPerCluster);
    if (!o.label.empty())
        cmd += " -n " + ShellQuote(o.label);
    if (!o.extraArgs.empty())
        cmd += " " + o.extraArgs;
    cmd += " " + q + " " + std::to_string(o.sizeKiB);
    return MustRun(cmd);
}

bool FatImage::Mtools(const std::string& command, const std::string& args, std::string* out) {
    std::string image = m_path;
    if (m_offsetSectors)
        image += "@@" + std::to_string(m_offsetSectors * 512);
    return MustRun("MTOOLS_SKIP_CHECK=1 TZ=UTC " + command + " -i " + ShellQuote(image) +
                       " " + args,
                   out);
}

namespace {
std::string ImagePath(const std::string& p) { return ShellQuote("::" + p); }
} // namespace

bool FatImage::MakeDir(const std::string& dir) { return Mtools("mmd", ImagePath(dir)); }

bool FatImage::CopyIn(const std::string& hostFile, const std::string& target) {
    return Mtools("mcopy -m -o", ShellQuote(hostFile) + " " + ImagePath(target));
}

bool FatImage::WriteFile(const std::string& target, const std::vector<std::uint8_t>& bytes,
                         const std::string& touchDate) {
    static std::atomic<int> counter{0};
    std::string tmp = m_path + ".in-" + std::to_string(::getpid()) + "-" +
                      std::to_string(counter++);
    if (!WriteFileBytes(tmp, bytes))
        return false;
    if (!touchDate.empty() && !MustRun("touch -d " + ShellQuote(touchDate) + " " + ShellQuote(tmp)))
        return false;
    bool ok = CopyIn(tmp, target);
    std::filesystem::remove(tmp);
    return ok;
}

bool FatImage::Delete(const std::string& file) { return Mtools("mdel", ImagePath(file)); }

bool FatImage::DeleteTree(const std::string& dir) { return Mtools("mdeltree", ImagePath(dir)); }

std::string FatImage::Mdir(const std::string& dir) {
    std::string out;
    if (!Mtools("mdir -/ -a", ImagePath(dir), &out))
        return "";
    return out;
}

} // namespace testsupport
