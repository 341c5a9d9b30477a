#include "tests/support/CrossLinkVolumes.h"

#include "filesystems/FileNode.h"
#include "filesystems/FileProperties.h"
#include "tests/support/Ext2Images.h"
#include "tests/support/FatImages.h"
#include "tests/support/FixtureKit.h"
#include "tests/support/NtfsImages.h"

#include <cstring>
#include <filesystem>
#include <utility>

namespace testsupport {

using Bytes = std::vector<std::uint8_t>;

namespace {

const Bytes& FillerBytes() {
    static const Bytes b = PatternBytes(100, 105);
    return b;
}

// Points the FAT32 free-cluster hint at "unknown", so that the next file takes the first free
// clusters from the start of the data area.
bool ForgetFreeHint(const std::string& image) {
    Bytes boot = ReadFileBytes(image);
    if (boot.size() < 1024)
        return false;
    const std::uint64_t fsInfo = boot[48] | (boot[49] << 8);
    std::memset(boot.data() + fsInfo * 512 + 492, 0xFF, 4);
    return WriteFileBytes(image, boot);
}


} // namespace

const Bytes& CrossLinkOldBytes() {
    static const Bytes b = PatternBytes(40000, 101);
    return b;
}
const Bytes& CrossLinkNewBytes() {
    static const Bytes b = PatternBytes(40000, 102);
    return b;
}
const Bytes& CrossLinkKeepBytes() {
    static const Bytes b = PatternBytes(20000, 103);
    return b;
}
const Bytes& CrossLinkIntactBytes() {
    static const Bytes b = PatternBytes(30000, 104);
    return b;
}
// mkntfs, then one ntfs-3g session per step. ntfs-3g places new data after the last allocated
// cluster, and a new file takes the lowest free MFT record: "old.bin" is written last, then
// deleted together with a resident filler of a lower record, so that "new.bin" takes the
// filler's record (the deleted record of "old.bin" stays) and the clusters "old.bin" had.
std::string NtfsCrossLinkVolume() {
    return CachedFixture("crosslink-ntfs-v2.img", [](const std::string& tmp) {
        NtfsImageRecipe recipe;
        recipe.sizeMiB = 16;
        if (!MakeNtfsImage(tmp, recipe))
            return false;
        const std::string src = tmp + ".src-";
        for (const auto& [name, bytes] : {std::pair{"filler.txt", &FillerBytes()}, {"old.bin", &CrossLinkOldBytes()},
                                          {"keep.bin", &CrossLinkKeepBytes()}, {"intact.bin", &CrossLinkIntactBytes()},
                                          {"new.bin", &CrossLinkNewBytes()}}) {
            if (!WriteFileBytes(src + name, *bytes))
                return false;
        }
        auto put = [&src](const char* name) { return "put " + NtfsEditWord(src + name) + " /" + name + "\n"; };
        return NtfsEdit(tmp, put("intact.bin") + put("keep.bin") + put("filler.txt") + put("old.bin")) &&
               NtfsEdit(tmp, "rm /filler.txt\nrm /old.bin\n") && NtfsEdit(tmp, put("new.bin")) &&
               NtfsEdit(tmp, "rm /intact.bin\n");
    });
}

// mkfs.fat and mtools, the files in a folder (a deep scan without FATs places the volume by its
// folders): the filler and "OLD.BIN" are deleted together (so "NEW.BIN" takes the filler's
// directory slot and the deleted entry of "OLD.BIN" stays), then "NEW.BIN" is written from the
// first free cluster on, over most of "OLD.BIN"'s clusters.
std::string FatCrossLinkVolume() {
    return CachedFixture("crosslink-fat32-v2.img", [](const std::string& tmp) {
        FatImageOptions options;
        options.fatBits = 32;
        options.sizeKiB = 40 * 1024;
        options.sectorsPerCluster = 1;
        if (!RequireFatTools() || !FatImage::Format(tmp, options))
            return false;
        FatImage img(tmp);
        return img.MakeDir("/DOCS") && img.WriteFile("/DOCS/FILLER.TXT", FillerBytes()) &&
               img.WriteFile("/DOCS/OLD.BIN", CrossLinkOldBytes()) && img.WriteFile("/DOCS/KEEP.BIN", CrossLinkKeepBytes()) &&
               img.WriteFile("/DOCS/INTACT.BIN", CrossLinkIntactBytes()) && img.Delete("/DOCS/FILLER.TXT") &&
               img.Delete("/DOCS/OLD.BIN") && ForgetFreeHint(tmp) && img.WriteFile("/DOCS/NEW.BIN", CrossLinkNewBytes()) &&
               img.Delete("/DOCS/INTACT.BIN");
    });
}

// mke2fs -d with the live file, then debugfs: the filler and "old.bin" are removed together,
// so "new.bin" takes the filler's inode (the lowest free one) and the first free blocks of the
// group, which were the filler's and "old.bin"'s.
std::string Ext2CrossLinkVolume() {
    return CachedFixture("crosslink-ext2-v1.img", [](const std::string& tmp) {
        const std::string content = tmp + ".content";
        std::error_code ec;
        std::filesystem::create_directories(content, ec);
        Ext2ImageOptions options;
        options.contentDir = content;
        if (!RequireExt2Tools() || !WriteFileBytes(content + "/keep.bin", CrossLinkKeepBytes()) ||
            !Ext2Image::Format(tmp, options))
            return false;
        Ext2Image img(tmp);
        return img.WriteBytes("/filler.txt", FillerBytes()) && img.WriteBytes("/old.bin", CrossLinkOldBytes()) &&
               img.WriteBytes("/intact.bin", CrossLinkIntactBytes()) && img.Remove("/filler.txt") &&
               img.Remove("/old.bin") && img.WriteBytes("/new.bin", CrossLinkNewBytes()) && img.Remove("/intact.bin");
    });
}

const Bytes& OverwritingNewBytes() {
    static const Bytes b = PatternBytes(36000, 106);
    return b;
}

// As NtfsCrossLinkVolume: "old.bin" is written last and deleted with a resident filler of a
// lower record, so that "new.bin" takes the filler's record and old.bin's clusters from their
// first one on; then both are deleted. A record keeps the sequence number it had when deleted.
std::string NtfsOverwrittenDeletedVolume(bool stamped) {
    const std::string name = stamped ? "overwritten-ntfs-lsn-v1.img" : "overwritten-ntfs-v1.img";
    return CachedFixture(name, [stamped](const std::string& tmp) {
        NtfsImageRecipe recipe;
        recipe.sizeMiB = 16;
        if (!MakeNtfsImage(tmp, recipe))
            return false;
        const std::string src = tmp + ".src-";
        for (const auto& [file, bytes] :
             {std::pair{"filler.txt", &FillerBytes()}, {"old.bin", &CrossLinkOldBytes()},
              {"keep.bin", &CrossLinkKeepBytes()}, {"intact.bin", &CrossLinkIntactBytes()},
              {"new.bin", &OverwritingNewBytes()}}) {
            if (!WriteFileBytes(src + file, *bytes))
                return false;
        }
        auto put = [&src](const char* file) { return "put " + NtfsEditWord(src + file) + " /" + file + "\n"; };
        auto lsn = [stamped](const char* file, int value) {
            return stamped ? "lsn /" + std::string(file) + " " + std::to_string(value) + "\n" : std::string();
        };
        return NtfsEdit(tmp, put("intact.bin") + put("keep.bin") + put("filler.txt") + put("old.bin")) &&
               NtfsEdit(tmp, lsn("old.bin", 1000) + "rm /filler.txt\nrm /old.bin\n") &&
               NtfsEdit(tmp, put("new.bin") + lsn("intact.bin", 1500) + "rm /intact.bin\n") &&
               NtfsEdit(tmp, lsn("new.bin", 2000) + "rm /new.bin\n");
    });
}

// An empty filler takes a directory slot before "OLD.BIN" and no cluster: deleted with it, it
// leaves its slot to "NEW.BIN", which then starts at OLD.BIN's first cluster (the first free
// one).
std::string FatOverwrittenDeletedVolume(bool sameTimes) {
    const std::string name = sameTimes ? "overwritten-fat32-same-v1.img" : "overwritten-fat32-v1.img";
    return CachedFixture(name, [sameTimes](const std::string& tmp) {
        FatImageOptions options;
        options.fatBits = 32;
        options.sizeKiB = 40 * 1024;
        options.sectorsPerCluster = 1;
        if (!RequireFatTools() || !FatImage::Format(tmp, options))
            return false;
        const std::string early = "2021-03-04 05:06:08 UTC";
        const std::string late = sameTimes ? early : "2021-03-04 07:30:00 UTC";
        FatImage img(tmp);
        return img.MakeDir("/DOCS") && img.WriteFile("/DOCS/FILLER.TXT", {}, early) &&
               img.WriteFile("/DOCS/OLD.BIN", CrossLinkOldBytes(), early) &&
               img.WriteFile("/DOCS/KEEP.BIN", CrossLinkKeepBytes(), early) &&
               img.WriteFile("/DOCS/INTACT.BIN", CrossLinkIntactBytes(), early) && img.Delete("/DOCS/FILLER.TXT") &&
               img.Delete("/DOCS/OLD.BIN") && ForgetFreeHint(tmp) &&
               img.WriteFile("/DOCS/NEW.BIN", OverwritingNewBytes(), late) && img.Delete("/DOCS/INTACT.BIN") &&
               img.Delete("/DOCS/NEW.BIN");
    });
}

const Bytes& SplitLiveBytes() {
    static const Bytes b = PatternBytes(20000, 107);
    return b;
}
const Bytes& SplitNeighbourBytes() {
    static const Bytes b = PatternBytes(5000, 108);
    return b;
}

// "GAP.BIN" (5 clusters) and then "Y.BIN" are written; GAP.BIN is deleted and "X.BIN" takes its
// slot and its clusters, then goes on after Y.BIN.
std::string FatSplitLiveFileVolume() {
    return CachedFixture("split-live-fat32-v1.img", [](const std::string& tmp) {
        FatImageOptions options;
        options.fatBits = 32;
        options.sizeKiB = 40 * 1024;
        options.sectorsPerCluster = 1;
        if (!RequireFatTools() || !FatImage::Format(tmp, options))
            return false;
        FatImage img(tmp);
        return img.MakeDir("/DOCS") && img.WriteFile("/DOCS/GAP.BIN", PatternBytes(5 * 512, 109)) &&
               img.WriteFile("/DOCS/Y.BIN", SplitNeighbourBytes()) && img.Delete("/DOCS/GAP.BIN") &&
               ForgetFreeHint(tmp) && img.WriteFile("/DOCS/X.BIN", SplitLiveBytes());
    });
}

// A file (not folder) of `size` bytes under `root`, deleted or live; null when there is none.
CFileNode* FileOfSize(CFileNode* root, std::uint64_t size, bool deleted) {
    std::vector<CFileNode*> stack{root};
    while (!stack.empty()) {
        CFileNode* node = stack.back();
        stack.pop_back();
        for (CFileNode* c = node->m_pFirstChild; c; c = c->m_pNextSibling)
            stack.push_back(c);
        const IFileProperties* p = node->m_pProperties;
        if (node != root && p && !(p->GetAttributes() & FILEATTR_DIRECTORY) &&
            ((p->GetFileState() & FILESTATE_DELETED) != 0) == deleted && p->GetFileSize() == size)
            return node;
    }
    return nullptr;
}

CrossLinkFiles FindCrossLinkFiles(CFileNode* root) {
    if (!root)
        return {};
    return {FileOfSize(root, CrossLinkOldBytes().size(), true), FileOfSize(root, CrossLinkIntactBytes().size(), true)};
}

} // namespace testsupport
