#include "recovery/FileRecovery.h"
#include "recovery/TargetFile.h"
#include "recovery/TargetFiles.h"
#include "tests/recovery/FakeTree.h"
#include "tests/recovery/Lznt1TestCompressor.h"
#include "tests/recovery/RecordingRecoverCallback.h"
#include "tests/support/FixtureKit.h"
#include "tests/support/MemoryDevice.h"
#include "logging/Log.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using namespace testsupport;

namespace {

constexpr std::uint64_t kFirstSector = 100;

// A device with a partition at kFirstSector, on which files get consecutive clusters.
class Volume {
public:
    Volume(std::uint32_t sectorsPerCluster, std::uint64_t clusters)
        : spc(sectorsPerCluster), device(kFirstSector + clusters * sectorsPerCluster) {
        // Bytes before the partition that must never show up in a file.
        std::memset(device.Sector(0), 0xAB, kFirstSector * kSectorSize);
    }
    std::uint64_t ClusterBytes() const { return std::uint64_t(spc) * kSectorSize; }
    // Puts `bytes` on the next free clusters; returns the first cluster.
    std::int64_t Place(const Bytes& bytes) {
        const std::int64_t start = next;
        std::memcpy(device.Sector(kFirstSector + next * spc), bytes.data(), bytes.size());
        next += static_cast<std::int64_t>((bytes.size() + ClusterBytes() - 1) / ClusterBytes());
        return start;
    }
    std::int64_t Clusters(std::uint64_t bytes) const {
        return static_cast<std::int64_t>((bytes + ClusterBytes() - 1) / ClusterBytes());
    }
    bool ReadBeforePartition() const {
        for (const auto& c : device.Calls())
            if (c.first < kFirstSector)
                return true;
        return false;
    }

    std::uint32_t spc;
    MemoryDevice device;
    std::int64_t next = 0;
};

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes Text(std::size_t size, std::uint32_t seed) {
    static const char* words[] = {"recovery ", "cluster ", "sector ", "volume ", "folder ", "run "};
    Bytes out;
    std::uint32_t x = seed;
    while (out.size() < size) {
        x = x * 1103515245u + 12345u;
        const char* w = words[(x >> 16) % 6];
        out.insert(out.end(), w, w + std::strlen(w));
    }
    out.resize(size);
    return out;
}

std::size_t CountFiles(const std::string& dir) {
    std::size_t n = 0;
    for (auto& e : fs::recursive_directory_iterator(dir))
        n += e.is_regular_file();
    return n;
}

} // namespace

// One tree with the cases that matter for the walk: empty and run-less files, names from disk
// that collide or hold path separators, unchecked entries, a folder path too long for the
// system, sparse runs, runs shorter than the file, an unreadable sector, attributes and times,
// and an encrypted file (never reported as recovered here).
TEST(FileRecovery, FolderTreeCases) {
    Volume vol(2, 400);
    const Bytes a1 = PatternBytes(3000, 1), a2 = PatternBytes(1500, 2), n1 = PatternBytes(10, 3),
                n2 = PatternBytes(20, 4), esc = PatternBytes(700, 5), deep = PatternBytes(99, 6),
                docs = PatternBytes(5000, 7), sparseHead = PatternBytes(5 * 1024, 8),
                sparseTail = PatternBytes(1024 + 300, 9), shortData = PatternBytes(2048, 10),
                bad = PatternBytes(4096, 11), attr = PatternBytes(64, 12);
    auto runsOf = [&](const Bytes& b) { return std::vector<DataRun>{{vol.Place(b), vol.Clusters(b.size())}}; };

    struct Case {
        FileRecipe recipe;
        std::string folder;   // "" root of the tree; else a folder added below
        std::string expected; // path below the output root; "" = no file
        Bytes content;
        bool recovered;
    };
    const std::uint64_t ticks2001 = (978307200ULL + 11644473600ULL) * 10000000ULL + 1234567;
    const std::uint64_t ticks2010 = (1262304000ULL + 11644473600ULL) * 10000000ULL;
    std::vector<Case> cases;
    auto add = [&](FileRecipe s, std::string folder, std::string expected, Bytes content, bool ok) {
        cases.push_back({std::move(s), std::move(folder), std::move(expected), std::move(content), ok});
    };
    add({"empty.txt", 0, {}, FILEATTR_ARCHIVE, 2, 0, 0, false}, "", "Volume/empty.txt", {}, true);
    add({"noruns.bin", 100, {}, FILEATTR_ARCHIVE, 2, 0, 0, false}, "", "Volume/noruns.bin", {}, false);
    add({"a.txt", a1.size(), runsOf(a1)}, "", "Volume/a.txt", a1, true);
    add({"a.txt", a2.size(), runsOf(a2)}, "", "Volume/a_000.txt", a2, true);
    add({"noext", n1.size(), runsOf(n1)}, "", "Volume/noext", n1, true);
    add({"noext", n2.size(), runsOf(n2)}, "", "Volume/noext_000", n2, true);
    add({"../../escape", esc.size(), runsOf(esc)}, "", "Volume/.._.._escape", esc, true);
    add({"unchecked", esc.size(), runsOf(esc), FILEATTR_ARCHIVE, 0}, "", "", {}, false);
    add({"in docs.txt", docs.size(), runsOf(docs)}, "docs", "Volume/docs/in docs.txt", docs, true);
    add({"hidden.txt", docs.size(), runsOf(docs)}, "skipped", "", {}, false);
    add({"deep.txt", deep.size(), runsOf(deep)}, "DEEP", "deep.txt", deep, true);
    {
        // 5 clusters, a sparse run of 3 clusters, 2 clusters (the last one partly used).
        FileRecipe s{"sparse.bin", sparseHead.size() + 3 * 1024 + sparseTail.size(), {}};
        s.runs = {{vol.Place(sparseHead), 5}, {kSparseRunStart, 3}, {vol.Place(sparseTail), 2}};
        add(s, "", "Volume/sparse.bin", Cat({sparseHead, Bytes(3 * 1024, 0), sparseTail}), true);
    }
    {
        // EXT2 holes start at block 0; with the sparse attribute they read as zeros.
        FileRecipe s{"holes.ext2", 4 * 1024, {}, static_cast<std::uint16_t>(FILEATTR_ARCHIVE | kExt2SparseAttribute)};
        s.kind = FILEPROPS_EXT2;
        const Bytes head = PatternBytes(1024, 13), tail = PatternBytes(1024, 14);
        s.runs = {{vol.Place(head), 1}, {0, 2}, {vol.Place(tail), 1}};
        add(s, "", "Volume/holes.ext2", Cat({head, Bytes(2048, 0), tail}), true);
    }
    {
        FileRecipe s{"short.bin", 10 * 1024, runsOf(shortData)};
        add(s, "", "Volume/short.bin", shortData, false);
    }
    {
        FileRecipe s{"badsector.bin", bad.size(), runsOf(bad)};
        Bytes expected = bad;
        std::memset(expected.data() + 1024, 0, 512); // the third sector of the file
        vol.device.FailSector(kFirstSector + s.runs[0].start * 2 + 2);
        add(s, "", "Volume/badsector.bin", expected, false); // written, never counted
    }
    {
        FileRecipe s{"attr.txt", attr.size(), runsOf(attr),
                   FILEATTR_READONLY | FILEATTR_HIDDEN | FILEATTR_SYSTEM | FILEATTR_ARCHIVE};
        s.writeTicks = ticks2001;
        s.accessTicks = ticks2010;
        add(s, "", "Volume/attr.txt", attr, true);
    }
    {
        FileRecipe s{"secret.doc", a1.size(), runsOf(a1), FILEATTR_ENCRYPTED | FILEATTR_ARCHIVE};
        add(s, "", "", {}, false);
    }

    TreePtr root = MakeRoot(kFirstSector, 2);
    std::map<std::string, CFileNode*> folders;
    for (const Case& c : cases) {
        CFileNode* parent = root.get();
        if (c.folder == "DEEP") {
            if (!folders.count("DEEP")) {
                CFileNode* f = root.get();
                for (int level = 0; level < 18; ++level)
                    f = AddFolder(f, std::string(250, char('a' + level)));
                folders["DEEP"] = f;
            }
            parent = folders["DEEP"];
        } else if (!c.folder.empty()) {
            if (!folders.count(c.folder))
                folders[c.folder] = AddFolder(root.get(), c.folder,
                                              c.folder == "skipped" ? CHECKSTATE_UNCHECKED : CHECKSTATE_CHECKED);
            parent = folders[c.folder];
        }
        AddFile(parent, c.recipe);
    }

    const std::string scratch = ScratchDir("tree");
    const std::string out = scratch + "/out";
    RecordingRecoverCallback callback;
    RecoverFolderJob job;
    std::string created;
    ASSERT_EQ(RecoverFolder(&callback, &vol.device, &job, root.get(), out, &created), 1);
    EXPECT_EQ(job.result, kRecoverDone);
    EXPECT_EQ(created, out + "/Volume");

    // Times before anything reads the file (a read may move its access time).
    struct stat st {};
    ASSERT_EQ(::stat((out + "/Volume/attr.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0222, 0u);
    EXPECT_EQ(st.st_mtim.tv_sec, 978307200);
    EXPECT_EQ(st.st_mtim.tv_nsec, 123456700);
    EXPECT_EQ(st.st_atim.tv_sec, 1262304000);

    int recovered = 0;
    std::size_t expectedFiles = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.recipe.name);
        recovered += c.recovered;
        if (c.expected.empty())
            continue;
        ++expectedFiles;
        const std::string path = out + "/" + c.expected;
        ASSERT_TRUE(fs::is_regular_file(path)) << path;
        EXPECT_EQ(ReadFileBytes(path), c.content);
    }
    EXPECT_EQ(callback.files, recovered);
    EXPECT_EQ(CountFiles(scratch), expectedFiles); // nothing else, nothing outside "out"
    EXPECT_FALSE(fs::exists(out + "/Volume/skipped"));
    EXPECT_FALSE(vol.ReadBeforePartition());

    fs::permissions(out + "/Volume/attr.txt", fs::perms::owner_write, fs::perm_options::add);

    // The same folder again: the tree goes into "Volume_000".
    RecoverFolderJob again;
    ASSERT_EQ(RecoverFolder(nullptr, &vol.device, &again, root.get(), out, &created), 1);
    EXPECT_EQ(created, out + "/Volume_000");
    EXPECT_EQ(ReadFileBytes(out + "/Volume_000/a_000.txt"), a2);
    fs::permissions(out + "/Volume_000/attr.txt", fs::perms::owner_write, fs::perm_options::add);
}

// NTFS-compressed files: each unit of 16 clusters is stored, compressed (real clusters then a
// sparse part) or sparse, and always yields its 16 clusters of bytes.
TEST(FileRecovery, CompressedUnits) {
    for (std::uint32_t spc : {1u, 8u}) {
        SCOPED_TRACE(spc);
        Volume vol(spc, 600);
        const std::size_t unit = 16 * vol.ClusterBytes();
        struct Unit {
            const char* kind; // "text", "random", "zero", "short"
            Bytes plain;
        };
        // A unit that compresses, one that does not, a zero unit, a text unit whose chunks decode
        // short (its last chunk holds fewer than 4096 bytes: the rest reads as zeros).
        Bytes shortChunkUnit = Text(unit, 40);
        std::vector<Unit> units = {{"text", Text(unit, 1)},
                                   {"random", PatternBytes(unit, 2)},
                                   {"zero", Bytes(unit, 0)},
                                   {"zero", Bytes(unit, 0)},
                                   {"text", Text(unit, 3)},
                                   {"short", shortChunkUnit}};
        std::vector<DataRun> runs;
        auto addRun = [&](std::int64_t start, std::int64_t count) {
            if (!runs.empty() && runs.back().start == kSparseRunStart && start == kSparseRunStart)
                runs.back().count += count; // one hole over several units
            else
                runs.push_back({start, count});
        };
        Bytes expected;
        for (Unit& u : units) {
            const std::string kind = u.kind;
            if (kind == "random") {
                addRun(vol.Place(u.plain), 16);
            } else if (kind == "zero") {
                addRun(kSparseRunStart, 16);
            } else {
                Bytes packed;
                if (kind == "short") {
                    // The first chunk holds only 1000 bytes; the unit's bytes after them are zeros.
                    packed = Lznt1CompressChunk(u.plain.data(), 1000);
                    for (std::size_t at = 4096; at < unit; at += 4096) {
                        auto c = Lznt1CompressChunk(u.plain.data() + at, 4096);
                        packed.insert(packed.end(), c.begin(), c.end());
                    }
                    std::memset(u.plain.data() + 1000, 0, 4096 - 1000);
                } else {
                    packed = Lznt1Compress(u.plain);
                }
                const std::int64_t used = vol.Clusters(packed.size());
                ASSERT_LT(used, 16);
                addRun(vol.Place(packed), used);
                addRun(kSparseRunStart, 16 - used);
            }
            expected.insert(expected.end(), u.plain.begin(), u.plain.end());
        }
        // The file ends inside its last unit.
        expected.resize(expected.size() - unit / 2 - 123);

        TreePtr root = MakeRoot(kFirstSector, spc);
        FileRecipe recipe{"packed.bin", expected.size(), runs, FILEATTR_COMPRESSED | FILEATTR_ARCHIVE};
        CFileNode* node = AddFile(root.get(), recipe);
        const std::string target = ScratchDir("compressed") + "/packed.bin";
        RecordingRecoverCallback callback;
        RecoveryContext context;
        context.callback = &callback;
        context.device = &vol.device;
        ASSERT_EQ(RecoverFileData(context, node, target), kRecoverDone);
        EXPECT_EQ(ReadFileBytes(target), expected);
        EXPECT_EQ(callback.bytes, expected.size());
        EXPECT_FALSE(vol.ReadBeforePartition());
    }
}

// Damaged compressed units stay within their unit: a chunk length past the data, a chunk
// header pointing beyond the unit, garbage in place of chunks, runs that stop early.
TEST(FileRecovery, DamagedCompressedUnits) {
    Volume vol(1, 200);
    const std::size_t unit = 16 * 512;
    struct Case {
        const char* what;
        Bytes clusters;       // what lies in the unit's real clusters
        std::int64_t real;    // how many real clusters
        std::uint64_t size;   // file size
        int result;
    };
    Bytes garbage = PatternBytes(4 * 512, 9);
    garbage[0] = 0xFF;
    garbage[1] = 0xBF; // compressed, 4096 + 2 bytes long: more than the 4 clusters hold
    Bytes bigHeader = Lznt1Compress(Text(unit, 5));
    bigHeader[0] = 0xFF;
    bigHeader[1] = 0xBF;
    const std::vector<Case> cases = {
        {"chunk longer than the data", garbage, 4, unit, kRecoverDone},
        {"first chunk claims the maximum", bigHeader, vol.Clusters(bigHeader.size()), unit, kRecoverDone},
        {"file longer than its runs", Lznt1Compress(Text(unit, 6)), 3, 3 * unit, kRecoverFailed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TreePtr root = MakeRoot(kFirstSector, 1);
        FileRecipe recipe{"f", c.size, {{vol.Place(c.clusters), c.real}, {kSparseRunStart, 16 - c.real}},
                      FILEATTR_COMPRESSED};
        CFileNode* node = AddFile(root.get(), recipe);
        const std::string target = ScratchDir("damaged") + "/f";
        RecoveryContext context;
        context.device = &vol.device;
        EXPECT_EQ(RecoverFileData(context, node, target), c.result);
        EXPECT_EQ(fs::file_size(target), std::min<std::uint64_t>(c.size, unit));
    }
}

TEST(FileRecovery, RefusedNodes) {
    Volume vol(16, 10);
    RecoveryContext context;
    context.device = &vol.device;
    const std::string dir = ScratchDir("refused");

    TreePtr root = MakeRoot(kFirstSector, 16);
    CFileNode* folder = AddFolder(root.get(), "dir");
    EXPECT_EQ(RecoverFileData(context, folder, dir + "/dir"), kRecoverFailed);
    // Compressed files need clusters of at most 4096 bytes.
    CFileNode* packed = AddFile(root.get(), {"p", 10, {{0, 1}}, FILEATTR_COMPRESSED});
    EXPECT_EQ(RecoverFileData(context, packed, dir + "/p"), kRecoverFailed);
    // A node outside any folder has no file-system information.
    std::unique_ptr<CFileNode> loose(CreateFileNode());
    EXPECT_EQ(RecoverFileData(context, loose.get(), dir + "/loose"), kRecoverFailed);
    EXPECT_EQ(RecoverFileData(context, nullptr, dir + "/null"), kRecoverFailed);
    EXPECT_EQ(CountFiles(dir), 0u);
}

// A cancel during a file stops the walk at once: the file in work is removed (a part of it
// under its full name would pass for the file), later files are not made.
TEST(FileRecovery, CancelInTheMiddleOfAFile) {
    Volume vol(8, 400);
    const Bytes big = PatternBytes(1 << 20, 21);
    TreePtr root = MakeRoot(kFirstSector, 8);
    AddFile(root.get(), {"big.bin", big.size(), {{vol.Place(big), vol.Clusters(big.size())}}});
    AddFile(root.get(), {"after.bin", 10, {{0, 1}}});
    RecordingRecoverCallback callback;
    callback.cancelAfterBytes = 256 * 1024;
    RecoverFolderJob job;
    const std::string out = ScratchDir("cancel");
    ASSERT_EQ(RecoverFolder(&callback, &vol.device, &job, root.get(), out, nullptr), 1);
    EXPECT_EQ(job.result, kRecoverCancelled);
    EXPECT_TRUE(fs::is_directory(out + "/Volume"));
    EXPECT_FALSE(fs::exists(out + "/Volume/big.bin"));
    EXPECT_EQ(callback.bytes, 0u); // what the removed file counted was taken back
    EXPECT_FALSE(fs::exists(out + "/Volume/after.bin"));
    EXPECT_EQ(callback.files, 0);
}

namespace {

// Counts how many reads run at the same time; each read takes a little while.
class OverlapDevice : public MemoryDevice {
public:
    using MemoryDevice::MemoryDevice;
    int ReadSectors(void* buffer, std::uint64_t first, std::uint64_t count) override {
        const int now = ++m_inFlight;
        int seen = maxInFlight.load();
        while (now > seen && !maxInFlight.compare_exchange_weak(seen, now)) {
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        int r;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            r = MemoryDevice::ReadSectors(buffer, first, count);
        }
        --m_inFlight;
        return r;
    }
    std::atomic<int> maxInFlight{0};

private:
    std::atomic<int> m_inFlight{0};
    std::mutex m_mutex;
};

} // namespace

// Two threads recovering the same node take turns; both copies are whole.
TEST(FileRecovery, TwoThreadsRecoverOneNode) {
    const Bytes data = PatternBytes(20 * 65536, 31);
    OverlapDevice device(kFirstSector + data.size() / kSectorSize);
    std::memcpy(device.Sector(kFirstSector), data.data(), data.size());
    TreePtr root = MakeRoot(kFirstSector, 1);
    CFileNode* node = AddFile(root.get(), {"f.bin", data.size(), {{0, std::int64_t(data.size() / 512)}}});
    const std::string dir = ScratchDir("twothreads");
    int results[2] = {0, 0};
    std::thread threads[2];
    RecoverFileJob jobs[2];
    for (int i = 0; i < 2; ++i)
        threads[i] = std::thread([&, i] {
            results[i] = RecoverFile(nullptr, &device, &jobs[i], node, dir + "/copy" + std::to_string(i), 1);
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(results[0], 1);
    EXPECT_EQ(results[1], 1);
    EXPECT_EQ(device.maxInFlight, 1);
    EXPECT_EQ(ReadFileBytes(dir + "/copy0"), data);
    EXPECT_EQ(ReadFileBytes(dir + "/copy1"), data);
}

// Sparse runs become holes in the target however long they are (the target is sparse too, and
// only its real data takes room); a file whose real data cannot fit fails before anything is
// written; a claimed length the target's file system cannot hold fails without filling it.
TEST(FileRecovery, SparseRunsBecomeHolesAndOnlyRealDataNeedsSpace) {
    Volume vol(8, 64); // 4 KiB clusters
    const Bytes head = PatternBytes(4096, 1), tail = PatternBytes(4096, 2), packed = Text(16 * 4096, 3);
    vol.Place(Bytes(4096, 0x11)); // cluster 0 stands for a hole in an ext2 run list
    const std::int64_t headAt = vol.Place(head), tailAt = vol.Place(tail), packedAt = vol.Place(packed);
    const std::string dir = ScratchDir("sparse-holes");
    TreePtr root = MakeRoot(kFirstSector, 8);
    struct Case {
        const char* what;
        FileRecipe recipe;
        bool recovered;
        Bytes start, end; // expected first and last bytes when recovered
    };
    constexpr std::uint64_t k4GiB = 4ull << 30, kHoleClusters = k4GiB / 4096;
    FileRecipe ntfs{"ntfs.bin", k4GiB + 8192, {{headAt, 1}, {-1, static_cast<std::int64_t>(kHoleClusters)}, {tailAt, 1}}};
    FileRecipe ext2{"ext2.bin", k4GiB + 8192, {{headAt, 1}, {0, static_cast<std::int64_t>(kHoleClusters)}, {tailAt, 1}}};
    ext2.kind = FILEPROPS_EXT2;
    ext2.attributes = FILEATTR_ARCHIVE | kExt2SparseAttribute;
    // Ends in a hole: the length still comes out right.
    FileRecipe trailing{"trailing.bin", k4GiB, {{headAt, 1}, {-1, static_cast<std::int64_t>(kHoleClusters)}}};
    // Compressed: a stored unit, then 65536 sparse units (4 GiB).
    FileRecipe compressed{"packed.bin", k4GiB + 16 * 4096, {{packedAt, 16}, {-1, static_cast<std::int64_t>(kHoleClusters)}},
                        FILEATTR_COMPRESSED};
    // A damaged record: 2^40 sparse clusters, 2^52 bytes; no file system here holds that.
    FileRecipe damaged{"damaged.bin", 1ull << 52, {{headAt, 1}, {-1, 1ll << 40}}};
    // 2^40 real clusters: more data than any target has room for.
    FileRecipe huge{"huge.bin", 1ull << 52, {{headAt, 1ll << 40}}};
    const Case cases[] = {
        {"sparse run", ntfs, true, head, tail},
        {"ext2 hole", ext2, true, head, tail},
        {"trailing hole", trailing, true, head, Bytes(4096, 0)},
        {"compressed sparse units", compressed, true, packed, Bytes(4096, 0)},
        {"damaged sparse length", damaged, false, {}, {}},
        {"real data beyond the free space", huge, false, {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CFileNode* node = AddFile(root.get(), c.recipe);
        RecordingRecoverCallback callback;
        RecoveryContext context;
        context.device = &vol.device;
        context.callback = &callback;
        const std::string path = dir + "/" + c.recipe.name;
        ASSERT_EQ(CreateNewFile(path), kErrorSuccess);
        const auto began = std::chrono::steady_clock::now();
        const int result = RecoverFileData(context, node, path);
        EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(20));
        struct stat st {};
        const bool exists = ::stat(path.c_str(), &st) == 0;
        if (exists) {
            EXPECT_LT(std::uint64_t(st.st_blocks) * 512, 4u << 20) << "the holes were written";
        }
        if (!c.recovered) {
            EXPECT_EQ(result, kRecoverFailed);
            continue;
        }
        ASSERT_EQ(result, kRecoverDone);
        ASSERT_TRUE(exists);
        EXPECT_EQ(std::uint64_t(st.st_size), c.recipe.size);
        EXPECT_EQ(callback.bytes.load(), c.recipe.size);
        CTargetFile in;
        ASSERT_EQ(in.OpenRead(path), kErrorSuccess);
        Bytes start(c.start.size());
        ASSERT_EQ(in.ReadFull(start.data(), start.size()), static_cast<long long>(start.size()));
        EXPECT_EQ(start, c.start);
        Bytes end(4096);
        const int fd = ::open(path.c_str(), O_RDONLY);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::pread(fd, end.data(), end.size(), static_cast<off_t>(c.recipe.size - 4096)), 4096);
        Bytes middle(4096, 0xEE);
        ASSERT_EQ(::pread(fd, middle.data(), middle.size(), static_cast<off_t>(2ull << 30)), 4096);
        ::close(fd);
        EXPECT_EQ(end, c.end);
        EXPECT_EQ(middle, Bytes(4096, 0));
    }
    // The file that could not fit was given up before any byte went to it.
    EXPECT_FALSE(fs::exists(dir + "/huge.bin"));
}

// Only bytes that came from the device count: a file whose runs reach past the device's last
// sector is written up to there, a file with an unreadable sector gets zeros for it, and
// neither is counted as recovered; what either reported as done is taken back, and holes count
// only once something behind them is written.
TEST(FileRecovery, DataPastTheDeviceEndOrUnreadableIsNotRecovered) {
    const std::string scratch = ScratchDir("past-end");
    static const std::string logPath = [] {
        const std::string p = ScratchDir("recovery-log") + "/activity.log";
        InitLog(p.c_str(), LOGLEVEL_INFO, LOGTYPE_FILE);
        return p;
    }();
    Volume vol(2, 64); // sectors 0 to 227
    const Bytes good = PatternBytes(6000, 21), bad = PatternBytes(4096, 22),
                tail = PatternBytes(2048, 23);
    const std::int64_t goodAt = vol.Place(good), badAt = vol.Place(bad);
    vol.next = 62; // the last two clusters
    const std::int64_t tailAt = vol.Place(tail);
    vol.device.FailSector(kFirstSector + badAt * 2 + 5);

    struct Case {
        FileRecipe recipe;
        Bytes content; // what the target holds afterwards
        bool recovered;
        const char* log; // a line the log must hold, or null
    };
    Bytes badExpected = bad;
    std::memset(badExpected.data() + 5 * 512, 0, 512);
    const Case cases[] = {
        {{"good.bin", good.size(), {{goodAt, vol.Clusters(good.size())}}}, good, true, nullptr},
        // Two clusters on the device, 20 claimed: the device's end cuts the file.
        {{"pastend.bin", 20 * 1024, {{tailAt, 20}}},
         tail,
         false,
         "runs past the end of the device: it was recovered up to the device's end (2048 of 20480 "
         "bytes)"},
        // A run that starts beyond the device: nothing of it is there.
        {{"beyond.bin", 4096, {{goodAt, 1}, {5000, 3}}},
         Bytes(good.begin(), good.begin() + 1024),
         false,
         "(1024 of 4096 bytes)"},
        {{"badsector.bin", bad.size(), {{badAt, 4}}},
         badExpected,
         false,
         "1 unreadable sectors of"},
        // A huge hole and then no more runs: nothing was written, nothing may be counted.
        {{"hole.bin", 1ull << 40, {{kSparseRunStart, 1ll << 28}}}, {}, false, "The data runs end"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.recipe.name);
        TreePtr root = MakeRoot(kFirstSector, 2);
        CFileNode* node = AddFile(root.get(), c.recipe);
        const std::string target = scratch + "/" + c.recipe.name;
        RecordingRecoverCallback callback;
        vol.device.ClearCalls();
        RecoverFileJob job;
        EXPECT_EQ(RecoverFile(&callback, &vol.device, &job, node, target, 0), c.recovered ? 1 : 0);
        EXPECT_EQ(job.result, c.recovered ? kRecoverDone : kRecoverFailed);
        EXPECT_EQ(ReadFileBytes(target), c.content);
        EXPECT_EQ(callback.files, c.recovered ? 1 : 0);
        EXPECT_EQ(callback.bytes, c.recovered ? c.recipe.size : 0u);
        EXPECT_LE(callback.peak, c.content.size());
        for (const auto& call : vol.device.Calls())
            EXPECT_LE(call.first + call.count, vol.device.GetSectorCount());
        if (c.log) {
            const Bytes log = ReadFileBytes(logPath);
            EXPECT_NE(std::string(log.begin(), log.end()).find(c.log), std::string::npos);
        }
    }
}
