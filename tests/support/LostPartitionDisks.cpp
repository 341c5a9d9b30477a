#include "tests/support/LostPartitionDisks.h"

#include "tests/support/FatImages.h"
#include "tests/support/FixtureKit.h"
#include "tests/support/NtfsImages.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace testsupport {

const std::vector<LostPartitionFile>& LostPartitionFiles() {
    static const std::vector<LostPartitionFile> files = {
        {"notes.txt", PatternBytes(700, 21)},
        {"docs/report.bin", PatternBytes(9000, 22)},
        {"docs/deep/photo.raw", PatternBytes(20000, 23)},
    };
    return files;
}

namespace {

std::uint64_t FsSectors(const LostPartitionRecipe& p) {
    return p.fsSectors != 0 ? p.fsSectors : p.sectors;
}

bool FormatFat(const std::string& disk, const LostPartitionRecipe& p) {
    const int bits = p.kind == LostFsKind::kFat12 ? 12 : p.kind == LostFsKind::kFat16 ? 16 : 32;
    std::string cmd = "mkfs.fat -F " + std::to_string(bits) +
                      " --offset=" + std::to_string(p.start) + " -h " + std::to_string(p.start);
    if (p.heads != 0)
        cmd += " -g " + std::to_string(p.heads) + "/" + std::to_string(p.sectorsPerTrack);
    if (bits != 12)
        cmd += " -s 1"; // enough clusters for the type on small partitions
    if (!p.label.empty())
        cmd += " -n " + ShellQuote(p.label);
    cmd += " " + ShellQuote(disk) + " " + std::to_string(FsSectors(p) / 2);
    if (!MustRun(cmd + " >/dev/null"))
        return false;
    FatImage img(disk, p.start);
    bool ok = img.MakeDir("/docs") && img.MakeDir("/docs/deep");
    for (const LostPartitionFile& f : LostPartitionFiles())
        ok = ok && img.WriteFile("/" + f.path, f.bytes);
    return ok;
}

bool FormatNtfs(const std::string& disk, const LostPartitionRecipe& p) {
    const std::string part = disk + ".ntfs";
    std::filesystem::remove(part);
    bool ok = MustRun("truncate -s " + std::to_string(FsSectors(p) * 512) + " " + ShellQuote(part) +
                      " && mkntfs -F -Q -q -c 4096 -p " + std::to_string(p.start) +
                      (p.heads != 0 ? " -H " + std::to_string(p.heads) + " -S " +
                                          std::to_string(p.sectorsPerTrack)
                                    : std::string()) +
                      " -L " +
                      ShellQuote(p.label) + " " + ShellQuote(part) + " >/dev/null 2>&1") &&
              NtfsMkdir(part, "/docs") && NtfsMkdir(part, "/docs/deep");
    for (const LostPartitionFile& f : LostPartitionFiles())
        ok = ok && NtfsWriteFile(part, "/" + f.path, f.bytes);
    ok = ok && MustRun("dd if=" + ShellQuote(part) + " of=" + ShellQuote(disk) +
                       " bs=512 seek=" + std::to_string(p.start) + " conv=notrunc status=none");
    std::filesystem::remove(part);
    return ok;
}

bool FormatExt(const std::string& disk, const LostPartitionRecipe& p) {
    const std::string root = disk + ".root";
    std::filesystem::remove_all(root);
    bool ok = true;
    for (const LostPartitionFile& f : LostPartitionFiles()) {
        std::filesystem::create_directories(
            std::filesystem::path(root + "/" + f.path).parent_path());
        ok = ok && WriteFileBytes(root + "/" + f.path, f.bytes);
    }
    ok = ok &&
         MustRun(std::string("mke2fs -q -F -t ") + (p.kind == LostFsKind::kExt3 ? "ext3" : "ext2") +
                 " -b 1024 -L " + ShellQuote(p.label) + " -d " + ShellQuote(root) +
                 " -E offset=" + std::to_string(p.start * 512) + " " + ShellQuote(disk) + " " +
                 std::to_string(FsSectors(p) / 2));
    std::filesystem::remove_all(root);
    return ok;
}

const char* MbrType(LostFsKind kind) {
    switch (kind) {
    case LostFsKind::kFat12:
        return "01";
    case LostFsKind::kFat16:
        return "06";
    case LostFsKind::kFat32:
        return "0c";
    case LostFsKind::kNtfs:
        return "07";
    case LostFsKind::kExt2:
    case LostFsKind::kExt3:
        return "83";
    }
    return "83";
}

bool MakeDisk(const std::string& path, std::uint64_t diskSectors,
              const std::vector<LostPartitionRecipe>& partitions) {
    if (!RequireFatTools() || !RequireTool("mkntfs") || !RequireTool("dd"))
        return false;
    std::string table = "label: dos\n";
    bool extended = false;
    for (const LostPartitionRecipe& p : partitions) {
        if (p.logical && !extended) {
            const std::uint64_t at = p.start - p.sectorsPerTrack;
            table += "start=" + std::to_string(at) + ", size=" + std::to_string(diskSectors - at) +
                     ", type=5\n";
            extended = true;
        }
        table += "start=" + std::to_string(p.start) + ", size=" + std::to_string(p.sectors) +
                 ", type=" + MbrType(p.kind) + "\n";
    }
    const std::string tableFile = path + ".sfdisk";
    if (!WriteFileBytes(tableFile, std::vector<std::uint8_t>(table.begin(), table.end())))
        return false;
    bool ok = MustRun("truncate -s " + std::to_string(diskSectors * 512) + " " + ShellQuote(path) +
                      " && sfdisk -q --no-reread --no-tell-kernel " + ShellQuote(path) + " < " +
                      ShellQuote(tableFile) + " >/dev/null");
    std::filesystem::remove(tableFile);
    for (const LostPartitionRecipe& p : partitions) {
        if (p.kind == LostFsKind::kNtfs)
            ok = ok && FormatNtfs(path, p);
        else if (p.kind == LostFsKind::kExt2 || p.kind == LostFsKind::kExt3)
            ok = ok && RequireTool("mke2fs") && FormatExt(path, p);
        else
            ok = ok && FormatFat(path, p);
    }
    return ok;
}

} // namespace

LostPartitionDisk CachedLostPartitionDisk(const std::string& name, std::uint64_t diskSectors,
                                          const std::vector<LostPartitionRecipe>& partitions) {
    LostPartitionDisk disk;
    disk.intact = CachedFixture(name + ".img", [&](const std::string& tmp) {
        return MakeDisk(tmp, diskSectors, partitions);
    });
    if (disk.intact.empty())
        return {};
    disk.wiped = CachedFixture(name + "-wiped.img", [&](const std::string& tmp) {
        return MustRun("cp --sparse=always " + ShellQuote(disk.intact) + " " + ShellQuote(tmp) +
                       " && dd if=/dev/zero of=" + ShellQuote(tmp) +
                       " bs=512 count=1 conv=notrunc status=none");
    });
    if (disk.wiped.empty())
        return {};
    return disk;
}

} // namespace testsupport
