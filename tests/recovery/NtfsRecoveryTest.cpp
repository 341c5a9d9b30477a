// Recovery end to end on NTFS volumes made by the real tools: the quick scan builds the tree,
// the engine writes the checked files, and the bytes are compared with the originals and with
// what ntfscat reads from the same image; modification times with what ntfsinfo reports.
#include "tests/support/TreePtr.h"
#include "filesystems/DIRBuildCallback.h"
#include "filesystems/FileProperties.h"
#include "filesystems/ntfs/NtfsTreeBuilder.h"
#include "recovery/EfsRawStream.h"
#include "recovery/FileRecovery.h"
#include "storage/ImageFileDevice.h"
#include <cstring>
#include "tests/recovery/RecordingRecoverCallback.h"
#include "tests/support/FixtureKit.h"
#include "tests/support/NtfsImages.h"

#include <ctime>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <sys/stat.h>

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using namespace testsupport;

namespace {

using testsupport::TreePtr;

// Path ("/docs/a.bin") -> node; deleted entries get a "~" in front of their name so that a
// live and a deleted file of one name stay apart.
std::map<std::string, CFileNode*> Paths(CFileNode* root) {
    std::map<std::string, CFileNode*> out;
    std::vector<std::pair<CFileNode*, std::string>> stack{{root, ""}};
    while (!stack.empty()) {
        auto [node, path] = stack.back();
        stack.pop_back();
        for (CFileNode* c = node->m_pFirstChild; c; c = c->m_pNextSibling) {
            if (!c->m_pProperties)
                continue;
            std::string name = c->m_pProperties->GetName();
            if (c->m_pProperties->GetFileState() & FILESTATE_DELETED)
                name = "~" + name;
            out[path + "/" + name] = c;
            stack.push_back({c, path + "/" + name});
        }
    }
    return out;
}

// Unchecks the whole tree, then checks the given nodes (their folders become partly checked).
void CheckOnly(CFileSystemNode* root, const std::vector<CFileNode*>& nodes) {
    if (root->m_pProperties->GetCheckState() != CHECKSTATE_UNCHECKED)
        ToggleCheckState(root, false);
    if (root->m_pProperties->GetCheckState() != CHECKSTATE_UNCHECKED)
        ToggleCheckState(root, false);
    for (CFileNode* n : nodes)
        ToggleCheckState(n, false);
}

// "File Altered Time" of $STANDARD_INFORMATION as ntfsinfo prints it, in seconds since 1970.
std::int64_t NtfsInfoWriteTime(const std::string& image, const std::string& path) {
    std::string out;
    if (!MustRun("ntfsinfo -F " + ShellQuote(path) + " " + ShellQuote(image), &out))
        return -1;
    const std::string key = "File Altered Time:";
    const auto at = out.find(key);
    if (at == std::string::npos)
        return -1;
    std::string text = out.substr(at + key.size(), out.find('\n', at) - at - key.size());
    std::tm tm{};
    if (!strptime(text.c_str(), " %a %b %d %H:%M:%S %Y", &tm))
        return -1;
    return static_cast<std::int64_t>(timegm(&tm));
}

Bytes NtfsCat(const std::string& image, const std::string& path) {
    const std::string tmp = ScratchDir("ntfscat") + "/out";
    if (!MustRun("ntfscat " + ShellQuote(image) + " " + ShellQuote(path) + " > " + ShellQuote(tmp)))
        return {};
    return ReadFileBytes(tmp);
}

Bytes Compressible(std::size_t size, std::uint32_t seed) {
    std::string text;
    while (text.size() < size)
        text += "line " + std::to_string((text.size() * 7 + seed) % 113) + " of a compressible file\n";
    text.resize(size);
    return Bytes(text.begin(), text.end());
}

// Units of 64 KiB: text, zeros, random, text; then a tail that ends inside a unit.
Bytes Mixed() {
    Bytes out = Compressible(65536, 1);
    out.resize(2 * 65536, 0);
    Bytes r = PatternBytes(65536, 2);
    out.insert(out.end(), r.begin(), r.end());
    Bytes t = Compressible(65536 + 777, 3);
    out.insert(out.end(), t.begin(), t.end());
    return out;
}

struct SourceFile {
    std::string path; // in the image; "~" marks a file deleted after it was written
    Bytes bytes;
};

struct Volume {
    std::string image;
    std::vector<SourceFile> files;
};

const Volume& PlainVolume() {
    static Volume v = [] {
        Volume vol;
        vol.files = {{"/plain.bin", PatternBytes(300000, 1)},
                     {"/small.txt", PatternBytes(300, 2)},
                     {"/empty.txt", {}},
                     {"/docs/nested.bin", PatternBytes(50000, 3)},
                     {"/sparse.bin", NtfsEditPattern(1 << 20, 7)},
                     {"/~gone.bin", PatternBytes(40000, 4)}};
        std::memset(vol.files[4].bytes.data() + (1 << 18), 0, 1 << 19); // the hole
        vol.image = CachedFixture("recovery-ntfs-plain-v1.img", [&](const std::string& tmp) {
            NtfsImageRecipe recipe;
            recipe.sizeMiB = 16;
            if (!MakeNtfsImage(tmp, recipe) || !NtfsMkdir(tmp, "/docs") ||
                !NtfsEdit(tmp, "sparse /sparse.bin 1048576 7"))
                return false;
            for (const auto& f : vol.files) {
                if (f.path == "/sparse.bin")
                    continue;
                std::string path = f.path[1] == '~' ? "/" + f.path.substr(2) : f.path;
                if (!NtfsWriteFile(tmp, path, f.bytes))
                    return false;
            }
            return NtfsDelete(tmp, "/gone.bin");
        });
        return vol;
    }();
    return v;
}

const Volume& CompressedVolume(std::uint32_t clusterSize) {
    static std::map<std::uint32_t, Volume> volumes;
    Volume& vol = volumes[clusterSize];
    if (!vol.image.empty())
        return vol;
    vol.files = {{"/text.bin", Compressible(200000, 9)},
                 {"/random.bin", PatternBytes(150000, 10)},
                 {"/zeros.bin", Bytes(262144, 0)},
                 {"/mixed.bin", Mixed()},
                 {"/tiny.txt", Compressible(100, 11)}};
    vol.image = CachedFixture("recovery-ntfs-compressed-" + std::to_string(clusterSize) + "-v1.img",
                              [&](const std::string& tmp) {
                                  NtfsImageRecipe recipe;
                                  recipe.sizeMiB = 16;
                                  recipe.clusterSize = clusterSize;
                                  recipe.compressed = true;
                                  if (!MakeNtfsImage(tmp, recipe))
                                      return false;
                                  std::string commands;
                                  for (std::size_t i = 0; i < vol.files.size(); ++i) {
                                      const std::string host = tmp + ".src" + std::to_string(i);
                                      if (!WriteFileBytes(host, vol.files[i].bytes))
                                          return false;
                                      commands += "put " + NtfsEditWord(host) + " " + vol.files[i].path + "\n";
                                  }
                                  return NtfsEdit(tmp, commands, nullptr, true);
                              });
    return vol;
}

// Scans the image, recovers the volume's files into a fresh folder and checks each of them.
void RecoverAndCompare(const Volume& vol, bool expectCompressed) {
    ASSERT_FALSE(vol.image.empty());
    ASSERT_TRUE(RequireTool("ntfscat") && RequireTool("ntfsinfo"));
    CImageFileDevice device(vol.image.c_str());
    CNullDirBuildCallback build;
    NtfsTreeBuildParams params;
    InitNtfsTreeBuildParams(&params);
    TreePtr root(BuildNtfsFileTree(&device, &params, &build));
    ASSERT_TRUE(root);
    auto paths = Paths(root.get());
    std::vector<CFileNode*> nodes;
    for (const auto& f : vol.files) {
        ASSERT_TRUE(paths.count(f.path)) << f.path;
        nodes.push_back(paths[f.path]);
        if (expectCompressed && f.bytes.size() > 4096) {
            EXPECT_TRUE(paths[f.path]->m_pProperties->GetAttributes() & FILEATTR_COMPRESSED) << f.path;
        }
    }
    CheckOnly(root.get(), nodes);

    const std::string out = ScratchDir("ntfs-recovery");
    RecordingRecoverCallback callback;
    RecoverFolderJob job;
    std::string made;
    ASSERT_EQ(RecoverFolder(&callback, &device, &job, root.get(), out, &made), 1);
    EXPECT_EQ(job.result, kRecoverDone);
    EXPECT_EQ(callback.files, static_cast<int>(vol.files.size()));
    std::uint64_t total = 0;
    for (const auto& f : vol.files) {
        SCOPED_TRACE(f.path);
        total += f.bytes.size();
        const bool deleted = f.path[1] == '~';
        const std::string name = deleted ? "/" + f.path.substr(2) : f.path;
        const std::string recovered = made + name;
        struct stat st {};
        ASSERT_EQ(::stat(recovered.c_str(), &st), 0);
        if (!deleted) {
            EXPECT_EQ(st.st_mtime, NtfsInfoWriteTime(vol.image, name));
            EXPECT_EQ(ReadFileBytes(recovered), NtfsCat(vol.image, name));
        }
        EXPECT_EQ(ReadFileBytes(recovered), f.bytes);
    }
    EXPECT_EQ(callback.bytes, total);
}

} // namespace

TEST(NtfsRecovery, PlainResidentSparseAndDeletedFiles) { RecoverAndCompare(PlainVolume(), false); }

TEST(NtfsRecovery, CompressedFiles) {
    for (std::uint32_t clusterSize : {4096u, 512u}) {
        SCOPED_TRACE(clusterSize);
        RecoverAndCompare(CompressedVolume(clusterSize), true);
    }
}

namespace {

// An $EFS stream: its length, a zero word, then bytes.
Bytes EfsStream(std::uint32_t size, std::uint32_t seed) {
    Bytes b = PatternBytes(size, seed);
    for (int i = 0; i < 4; ++i) {
        b[i] = static_cast<std::uint8_t>(size >> (8 * i));
        b[4 + i] = 0;
    }
    return b;
}

// The raw stream of a file of `data` (cipher text) with `efs` as its $EFS stream.
Bytes ExpectedRawStream(const Bytes& data, const Bytes& efs) {
    Bytes out;
    auto put = [&](const auto& part) { out.insert(out.end(), part.begin(), part.end()); };
    put(BuildEfsFileHeader(static_cast<std::uint32_t>(efs.size())));
    put(efs);
    put(BuildEfsStreamHeader());
    Bytes padded = data;
    padded.resize((data.size() + 511) / 512 * 512, 0);
    std::uint64_t owed = data.size();
    for (std::size_t at = 0, block = 0; at < padded.size(); at += 65536, ++block) {
        const std::size_t n = std::min<std::size_t>(65536, padded.size() - at);
        put(BuildEfsDataBlockHeader(static_cast<std::uint16_t>(block), static_cast<std::uint32_t>(n), owed));
        out.insert(out.end(), padded.begin() + at, padded.begin() + at + n);
        owed -= std::min<std::uint64_t>(owed, n);
    }
    return out;
}

} // namespace

// Encrypted files (their $EFS stream resident or not) become raw EFS streams beside where the
// file would be; the file itself is not written and never counts as recovered.
TEST(NtfsRecovery, EncryptedFilesBecomeRawEfsStreams) {
    struct Encrypted {
        std::string name;
        Bytes data;
        Bytes efs;
    };
    const std::vector<Encrypted> files = {{"secret.doc", PatternBytes(10000, 21), EfsStream(300, 22)},
                                          {"big.bin", PatternBytes(70000, 23), EfsStream(3000, 24)}};
    const std::string image = CachedFixture("recovery-ntfs-efs-v1.img", [&](const std::string& tmp) {
        NtfsImageRecipe recipe;
        recipe.sizeMiB = 8;
        if (!MakeNtfsImage(tmp, recipe))
            return false;
        std::string commands;
        for (std::size_t i = 0; i < files.size(); ++i) {
            const std::string data = tmp + ".data" + std::to_string(i), efs = tmp + ".efs" + std::to_string(i);
            if (!WriteFileBytes(data, files[i].data) || !WriteFileBytes(efs, files[i].efs))
                return false;
            commands += "efs " + NtfsEditWord(data) + " /" + files[i].name + " " + NtfsEditWord(efs) + "\n";
        }
        return NtfsEdit(tmp, commands);
    });
    ASSERT_FALSE(image.empty());
    CImageFileDevice device(image.c_str());
    CNullDirBuildCallback build;
    NtfsTreeBuildParams params;
    InitNtfsTreeBuildParams(&params);
    TreePtr root(BuildNtfsFileTree(&device, &params, &build));
    ASSERT_TRUE(root);
    auto paths = Paths(root.get());
    std::vector<CFileNode*> nodes;
    for (const auto& f : files) {
        ASSERT_TRUE(paths.count("/" + f.name));
        nodes.push_back(paths["/" + f.name]);
        EXPECT_TRUE(nodes.back()->m_pProperties->GetAttributes() & FILEATTR_ENCRYPTED);
    }
    CheckOnly(root.get(), nodes);
    const std::string out = ScratchDir("ntfs-efs");
    RecordingRecoverCallback callback;
    RecoverFolderJob job;
    std::string made;
    ASSERT_EQ(RecoverFolder(&callback, &device, &job, root.get(), out, &made), 1);
    EXPECT_EQ(job.result, kRecoverDone);
    EXPECT_EQ(callback.files, 0);
    for (const auto& f : files) {
        SCOPED_TRACE(f.name);
        EXPECT_FALSE(fs::exists(made + "/" + f.name));
        EXPECT_EQ(ReadFileBytes(made + "/" + f.name + ".EFS"), ExpectedRawStream(f.data, f.efs));
    }
    // The sector padding counted while copying was taken back.
    EXPECT_EQ(callback.bytes, 10000u + 70000u);
}

// A volume written from Linux holds names with characters Windows forbids (POSIX namespace):
// every such file is listed and recovered with its name, '\\' made safe.
TEST(NtfsRecovery, PosixNamesWithWindowsReservedCharacters) {
    ASSERT_TRUE(RequireTool("ntfscat"));
    const std::vector<std::pair<std::string, std::string>> names = {
        {"quote\"d.txt", "quote\"d.txt"}, {"star*.txt", "star*.txt"},   {"colon:name.txt", "colon:name.txt"},
        {"less<more>.txt", "less<more>.txt"}, {"what?.txt", "what?.txt"}, {"back\\slash.txt", "back_slash.txt"},
        {"pipe|.txt", "pipe|.txt"},          {"plain.txt", "plain.txt"},
    };
    const std::string image = CachedFixture("recovery-ntfs-posix-names-v1.img", [&](const std::string& tmp) {
        NtfsImageRecipe recipe;
        recipe.sizeMiB = 8;
        if (!MakeNtfsImage(tmp, recipe))
            return false;
        std::string commands;
        for (std::size_t i = 0; i < names.size(); ++i) {
            const std::string host = tmp + ".src" + std::to_string(i);
            if (!WriteFileBytes(host, PatternBytes(3000 + 100 * i, 40 + static_cast<std::uint32_t>(i))))
                return false;
            commands += "put " + NtfsEditWord(host) + " /" + names[i].first + "\n";
        }
        return NtfsEdit(tmp, commands);
    });
    ASSERT_FALSE(image.empty());
    CImageFileDevice device(image.c_str());
    CNullDirBuildCallback build;
    NtfsTreeBuildParams params;
    InitNtfsTreeBuildParams(&params);
    TreePtr root(BuildNtfsFileTree(&device, &params, &build));
    ASSERT_TRUE(root);
    auto paths = Paths(root.get());
    std::vector<CFileNode*> nodes;
    for (const auto& n : names) {
        ASSERT_TRUE(paths.count("/" + n.first)) << n.first;
        nodes.push_back(paths["/" + n.first]);
    }
    CheckOnly(root.get(), nodes);
    const std::string out = ScratchDir("ntfs-posix-names");
    RecordingRecoverCallback callback;
    RecoverFolderJob job;
    std::string made;
    ASSERT_EQ(RecoverFolder(&callback, &device, &job, root.get(), out, &made), 1);
    EXPECT_EQ(callback.files, static_cast<int>(names.size()));
    for (std::size_t i = 0; i < names.size(); ++i) {
        SCOPED_TRACE(names[i].first);
        EXPECT_EQ(ReadFileBytes(made + "/" + names[i].second),
                  PatternBytes(3000 + 100 * i, 40 + static_cast<std::uint32_t>(i)));
    }
}
