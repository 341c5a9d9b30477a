#include "tests/filesystems/ntfs/NtfsTestImages.h"

#include "tests/support/FixtureKit.h"
#include "tests/support/NtfsImages.h"

#include <map>

using namespace testsupport;

namespace {
struct BasicFile {
    const char* path;
    std::size_t size;
    std::uint32_t seed;
};
const BasicFile kBasicFiles[] = {
    {"/readme.txt", 100, 1},      {"/docs/a.bin", 50000, 2},  {"/docs/b.bin", 9000, 3},
    {"/docs/caf\xC3\xA9.txt", 3000, 4}, {"/docs/sub/c.bin", 20000, 5}, {"/docs/gone.bin", 30000, 6},
    {"/trash/t1.bin", 12000, 7},  {"/trash/t2.bin", 7000, 8},
};
} // namespace

std::vector<std::uint8_t> BasicNtfsContent(const std::string& path) {
    for (const auto& f : kBasicFiles)
        if (path == f.path)
            return PatternBytes(f.size, f.seed);
    return {};
}

std::string BasicNtfsImage() {
    return CachedFixture("ntfs-basic-v1.img", [](const std::string& tmp) {
        NtfsImageRecipe recipe;
        recipe.sizeMiB = 32;
        recipe.label = kBasicNtfsLabel;
        if (!MakeNtfsImage(tmp, recipe) ||
            !NtfsEdit(tmp, "mkdir /docs\nmkdir /docs/sub\nmkdir /many\nmkdir /trash\nfill /many 400 100 50"))
            return false;
        for (const auto& f : kBasicFiles)
            if (!NtfsWriteFile(tmp, f.path, PatternBytes(f.size, f.seed)))
                return false;
        return NtfsEdit(tmp, "rm /docs/gone.bin\nrm /trash/t1.bin\nrm /trash/t2.bin") &&
               NtfsEdit(tmp, "rm /trash");
    });
}

std::vector<std::uint8_t> FragmentedContent() { return NtfsEditPattern(kFragmentedSize, 11); }

std::string FragmentedNtfsImage() {
    return CachedFixture("ntfs-fragmented-v1.img", [](const std::string& tmp) {
        NtfsImageRecipe recipe;
        recipe.sizeMiB = 32;
        return MakeNtfsImage(tmp, recipe) &&
               NtfsEdit(tmp, "interleave /" + std::string(kFragmentedName) + " /other.bin " +
                                 std::to_string(kFragmentedSize) + " 11") &&
               NtfsDelete(tmp, "/other.bin");
    });
}

std::vector<std::uint8_t> CompressedContent() {
    std::string text;
    while (text.size() < 40000)
        text += "Compressible line " + std::to_string(text.size() % 97) + " of the packed file.\n";
    text.resize(40000);
    return std::vector<std::uint8_t>(text.begin(), text.end());
}

std::string CompressedNtfsImage() {
    return CachedFixture("ntfs-compressed-v1.img", [](const std::string& tmp) {
        NtfsImageRecipe recipe;
        recipe.sizeMiB = 16;
        recipe.compressed = true;
        std::string host = tmp + ".src";
        return MakeNtfsImage(tmp, recipe) && WriteFileBytes(host, CompressedContent()) &&
               NtfsEdit(tmp, "put " + NtfsEditWord(host) + " /packed.txt", nullptr, true);
    });
}
