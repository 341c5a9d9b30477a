#include "tests/support/DeletedFileImages.h"

#include "tests/support/FatImages.h"
#include "tests/support/FixtureKit.h"
#include "tests/support/NtfsImages.h"

#include <gtest/gtest.h>

namespace testsupport {

const DeletedSample kDeletedSamples[5] = {
    {"/keep_this.txt", 3000, false},
    {"/docs/kept_note.txt", 1200, false},
    {"/docs/report_one.txt", 5000, true},
    {"/picture_gone.bmp", 54 + 80 * 60 * 3, true},  // an 80 x 60 picture
    {"/root_deleted.bin", 70000, true},
};

namespace {
// A 24-bit BMP of w x h with a colour ramp.
std::vector<std::uint8_t> Bitmap(int w, int h) {
    std::vector<std::uint8_t> b(54 + static_cast<std::size_t>(w) * h * 3, 0);
    auto put32 = [&](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    };
    b[0] = 'B';
    b[1] = 'M';
    put32(2, static_cast<std::uint32_t>(b.size()));
    put32(10, 54);
    put32(14, 40);
    put32(18, static_cast<std::uint32_t>(w));
    put32(22, static_cast<std::uint32_t>(h));
    b[26] = 1;
    b[28] = 24;
    put32(34, static_cast<std::uint32_t>(b.size() - 54));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            std::uint8_t* px = &b[54 + (static_cast<std::size_t>(y) * w + x) * 3];
            px[0] = static_cast<std::uint8_t>(x * 3);
            px[1] = static_cast<std::uint8_t>(y * 4);
            px[2] = static_cast<std::uint8_t>(200);
        }
    return b;
}
} // namespace

std::vector<std::uint8_t> DeletedSampleBytes(const DeletedSample& s) {
    if (std::string(s.path).find(".bmp") != std::string::npos)
        return Bitmap(80, 60);
    std::uint32_t seed = 7;
    for (const char* p = s.path; *p; ++p)
        seed = seed * 31 + static_cast<std::uint8_t>(*p);
    std::vector<std::uint8_t> bytes = PatternBytes(s.size, seed);
    if (std::string(s.path).find(".txt") != std::string::npos)
        for (auto& b : bytes)
            b = static_cast<std::uint8_t>('a' + b % 26);
    return bytes;
}

const DeletedVolumeCase kDeletedVolumeCases[6] = {
    {"dfr-ntfs.img", DeletedFs::Ntfs, false, "DfrNtfs", "NTFS"},
    {"dfr-ntfs-part.img", DeletedFs::Ntfs, true, "DfrNtfs", "NTFS"},
    {"dfr-fat32.img", DeletedFs::Fat32, false, "DFR32", "FAT32"},
    {"dfr-fat32-part.img", DeletedFs::Fat32, true, "DFR32", "FAT32"},
    {"dfr-fat16.img", DeletedFs::Fat16, false, "DFR16", "FAT16"},
    {"dfr-fat16-part.img", DeletedFs::Fat16, true, "DFR16", "FAT16"},
};

namespace {
bool MakeNtfs(const std::string& path, const DeletedVolumeCase& c) {
    NtfsImageRecipe recipe;
    recipe.sizeMiB = 16;
    recipe.label = c.label;
    recipe.partitionStart = c.partitioned ? kDeletedPartitionStart : 0;
    const std::string volume = c.partitioned ? path + ".vol" : path;
    bool ok = MakeNtfsImage(volume, recipe) && NtfsMkdir(volume, "/docs");
    for (const DeletedSample& s : kDeletedSamples)
        ok = ok && NtfsWriteFile(volume, s.path, DeletedSampleBytes(s));
    for (const DeletedSample& s : kDeletedSamples)
        if (s.deleted)
            ok = ok && NtfsDelete(volume, s.path);
    if (ok && c.partitioned) {
        const std::string q = ShellQuote(path);
        ok = MustRun("truncate -s 20M " + q + " && echo 'start=2048, size=32768, type=7' | sfdisk -q " + q +
                     " && dd if=" + ShellQuote(volume) + " of=" + q + " bs=512 seek=2048 conv=notrunc status=none && rm " +
                     ShellQuote(volume));
    }
    return ok;
}

bool MakeFat(const std::string& path, const DeletedVolumeCase& c) {
    FatImageOptions o;
    o.fatBits = c.fs == DeletedFs::Fat32 ? 32 : 16;
    o.sizeKiB = c.fs == DeletedFs::Fat32 ? 40 * 1024 : 16 * 1024;
    o.sectorsPerCluster = 1;
    o.label = c.label;
    o.offsetSectors = c.partitioned ? kDeletedPartitionStart : 0;
    if (!RequireFatTools() || !FatImage::Format(path, o))
        return false;
    FatImage img(path, o.offsetSectors);
    bool ok = img.MakeDir("/docs");
    for (const DeletedSample& s : kDeletedSamples)
        ok = ok && img.WriteFile(s.path, DeletedSampleBytes(s));
    for (const DeletedSample& s : kDeletedSamples)
        if (s.deleted)
            ok = ok && img.Delete(s.path);
    return ok;
}

} // namespace

std::string DeletedVolumeImage(const DeletedVolumeCase& c) {
    std::string path = CachedFixture(c.name, [&](const std::string& tmp) {
        return c.fs == DeletedFs::Ntfs ? MakeNtfs(tmp, c) : MakeFat(tmp, c);
    });
    EXPECT_FALSE(path.empty()) << c.name;
    return path;
}

std::map<std::string, std::vector<std::uint8_t>> DeletedOriginals() {
    std::map<std::string, std::vector<std::uint8_t>> out;
    for (const DeletedSample& s : kDeletedSamples)
        if (s.deleted)
            out[std::string(s.path).substr(1)] = DeletedSampleBytes(s);
    return out;
}

} // namespace testsupport
