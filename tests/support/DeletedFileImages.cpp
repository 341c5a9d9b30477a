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
    {"/picture_gone.bmp", 20000, true},
    {"/root_deleted.bin", 70000, true},
};

std::vector<std::uint8_t> DeletedSampleBytes(const DeletedSample& s) {
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
    NtfsImageSpec spec;
    spec.sizeMiB = 16;
    spec.label = c.label;
    spec.partitionStart = c.partitioned ? kDeletedPartitionStart : 0;
    const std::string volume = c.partitioned ? path + ".vol" : path;
    bool ok = MakeNtfsImage(volume, spec) && NtfsMkdir(volume, "/docs");
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
