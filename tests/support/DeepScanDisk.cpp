#include "tests/support/DeepScanDisk.h"

#include "tests/support/FatImages.h"
#include "tests/support/FixtureKit.h"
#include "tests/support/ImageFiles.h"
#include "tests/support/NtfsImages.h"

#include <cstring>
#include <filesystem>
#include <fstream>

namespace testsupport {
namespace {

constexpr std::uint64_t kNtfsStart = 2048;
constexpr std::uint64_t kNtfsSectors = 8 * 2048; // 8 MiB
constexpr std::uint64_t kGapStart = kNtfsStart + kNtfsSectors;
constexpr std::uint64_t kFatStart = kGapStart + 2 * 2048; // a 2 MiB gap
constexpr std::uint64_t kFatSectors = 34 * 2048;          // enough clusters for FAT32
constexpr std::uint64_t kDiskSectors = kFatStart + kFatSectors + 2048;

DeepScanDisk Describe() {
    DeepScanDisk d;
    d.ntfsStart = kNtfsStart;
    d.ntfsSectors = kNtfsSectors;
    d.fatStart = kFatStart;
    d.fatSectors = kFatSectors;
    d.ntfsFiles = {{"/dir/one.bin", PatternBytes(20000, 41)},
                   {"/dir/sub/two.txt", PatternBytes(3000, 42)},
                   {"/small.txt", PatternBytes(100, 43)},
                   {"/ntgone.bin", PatternBytes(30000, 44), true}};
    d.fatFiles = {{"/Docs/a.bin", PatternBytes(5000, 51)},
                  {"/Docs/Deep/c.bin", PatternBytes(12000, 52)},
                  {"/b.txt", PatternBytes(700, 53)},
                  {"/fatgone.bin", PatternBytes(9000, 54), true}};
    return d;
}

bool MakePng(const std::string& path) {
    return RequireTool("convert") && MustRun("convert -size 96x64 gradient:navy-orange -depth 8 " +
                                             ShellQuote(path) + " >/dev/null 2>&1");
}

} // namespace

const DeepScanDisk& CachedDeepScanDisk() {
    static const DeepScanDisk disk = [] {
        DeepScanDisk d = Describe();
        const std::string dir = CachedFixture("deep-scan-disk-v2", [&](const std::string& tmp) {
            std::filesystem::create_directories(tmp + "/originals");
            const std::string images = RealImageFilesDir();
            if (images.empty() || !RequireFatTools())
                return false;
            std::filesystem::copy_file(images + "/jpeg-jfif.jpg", tmp + "/planted.jpg");
            if (!MakePng(tmp + "/planted.png"))
                return false;
            // NTFS, made at its start on the disk.
            const std::string ntfs = tmp + "/ntfs.part";
            NtfsImageRecipe recipe;
            recipe.sizeMiB = kNtfsSectors / 2048;
            recipe.partitionStart = kNtfsStart;
            recipe.label = "DeepNtfs";
            bool ok =
                MakeNtfsImage(ntfs, recipe) && NtfsMkdir(ntfs, "/dir") && NtfsMkdir(ntfs, "/dir/sub");
            for (const DeepScanFile& f : d.ntfsFiles)
                ok = ok && NtfsWriteFile(ntfs, f.name, f.bytes);
            for (const DeepScanFile& f : d.ntfsFiles)
                if (f.deleted)
                    ok = ok && NtfsDelete(ntfs, f.name);
            const std::int64_t mft = ok ? NtfsRecordOffset(ntfs, 0) : -1;
            // FAT32.
            const std::string fat = tmp + "/fat.part";
            FatImageOptions options;
            options.fatBits = 32;
            options.sizeKiB = static_cast<std::uint32_t>(kFatSectors / 2);
            options.sectorsPerCluster = 1;
            options.label = "DEEPFAT";
            ok = ok && mft > 0 && FatImage::Format(fat, options);
            if (ok) {
                FatImage image(fat);
                ok = image.MakeDir("/Docs") && image.MakeDir("/Docs/Deep");
                for (const DeepScanFile& f : d.fatFiles)
                    ok = ok && image.WriteFile(f.name, f.bytes);
                for (const DeepScanFile& f : d.fatFiles)
                    if (f.deleted)
                        ok = ok && image.Delete(f.name);
            }
            if (!ok)
                return false;
            // The disk: table first (sfdisk), then the volumes and the planted pictures.
            const std::string path = tmp + "/disk.img";
            const std::string table = tmp + "/table.sfdisk";
            std::ofstream(table) << "label: dos\n"
                                 << "start=" << kNtfsStart << ", size=" << kNtfsSectors
                                 << ", type=7\n"
                                 << "start=" << kFatStart << ", size=" << kFatSectors
                                 << ", type=c\n";
            if (!MustRun("truncate -s " + std::to_string(kDiskSectors * 512) + " " +
                         ShellQuote(path) + " && sfdisk -q --no-reread --no-tell-kernel " +
                         ShellQuote(path) + " < " + ShellQuote(table) + " >/dev/null"))
                return false;
            std::vector<std::uint8_t> bytes = ReadFileBytes(path);
            auto place = [&](std::uint64_t sector, const std::vector<std::uint8_t>& what) {
                if (sector * 512 + what.size() > bytes.size())
                    return false;
                std::memcpy(bytes.data() + sector * 512, what.data(), what.size());
                return true;
            };
            std::vector<std::uint8_t> fatBytes = ReadFileBytes(fat);
            fatBytes.resize(kFatSectors * 512);
            ok = place(kNtfsStart, ReadFileBytes(ntfs)) && place(kFatStart, fatBytes);
            const auto jpg = ReadFileBytes(tmp + "/planted.jpg");
            const auto png = ReadFileBytes(tmp + "/planted.png");
            const std::uint64_t inFat = kFatStart + kFatSectors - 1024;
            ok = ok && !jpg.empty() && !png.empty() && place(kGapStart + 64, jpg) &&
                 place(kGapStart + 1024, png) && place(inFat, jpg) && place(inFat + 512, png);
            // The damage.
            std::memset(bytes.data(), 0, 512);
            std::memset(bytes.data() + kNtfsStart * 512, 0, 512);
            std::memset(bytes.data() + kNtfsStart * 512 + static_cast<std::uint64_t>(mft), 0,
                        4 * 1024);
            ok = ok && WriteFileBytes(path, bytes);
            std::filesystem::remove(ntfs);
            std::filesystem::remove(fat);
            std::filesystem::remove(table);
            // The originals beside the disk, for tests that compare outside C++.
            for (const auto* list : {&d.ntfsFiles, &d.fatFiles})
                for (const DeepScanFile& f : *list) {
                    const std::string name = f.name.substr(f.name.find_last_of('/') + 1);
                    ok = ok && WriteFileBytes(tmp + "/originals/" +
                                                  (list == &d.ntfsFiles ? "ntfs-" : "fat-") + name,
                                              f.bytes);
                }
            return ok;
        });
        if (dir.empty())
            return d;
        d.path = dir + "/disk.img";
        d.folder = dir;
        const auto jpg = ReadFileBytes(dir + "/planted.jpg");
        const auto png = ReadFileBytes(dir + "/planted.png");
        const std::uint64_t inFat = kFatStart + kFatSectors - 1024;
        d.planted = {{"planted.jpg", jpg, false, kGapStart + 64},
                     {"planted.png", png, false, kGapStart + 1024},
                     {"planted.jpg", jpg, false, inFat},
                     {"planted.png", png, false, inFat + 512}};
        return d;
    }();
    return disk;
}

} // namespace testsupport
