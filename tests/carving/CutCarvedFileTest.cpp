// Carved files that the end of the device cuts: a WAV made by Python's wave module and a
// TrueType font of the system's fonts, each with only its first part on a small image. The RAW
// search finds them, the RAW tree cuts them to the image, and recovery writes what the image
// holds without counting them as recovered; a file that ends exactly with the image comes back
// whole and counted. A tree saved into a scan state and restored over the image keeps the
// difference, and so does the tree built again from a restored deep scan.
//
// Carved files larger than the largest carved size of the settings: a WAV whose header gives
// 60,000,000 bytes is cut at the setting, told in the log with the setting's value and not
// counted as recovered, also after a save and reload of the tree or of the deep scan; reloaded
// with a larger setting it comes back whole; so is a Word document made by the compound writer,
// whose header gives its size, sized in the search's ring and on the device. A gzip file,
// whose size only decoding it finds, stopped at the setting is no cut of a size it claims and
// stays as it is, also where the search's ring sized it and the deep scan is restored.
#include "carving/IntelligentSearch.h"
#include "carving/RAWFileProperties.h"
#include "carving/analysers/CompoundFile.h"
#include "carving/RawFileTreeBuilder.h"
#include "carving/records/RawFileInfo.h"
#include "carving/records/RawFileTypeTable.h"
#include "filesystems/FileNode.h"
#include "filesystems/FileProperties.h"
#include "recovery/FileRecovery.h"
#include "recovery/RSData.h"
#include "recovery/ScanStateSections.h"
#include "storage/ImageFileDevice.h"
#include "tests/carving/ActivityLog.h"
#include "tests/carving/RawSearchRun.h"
#include "tests/recovery/RecordingRecoverCallback.h"
#include "tests/support/DocumentFiles.h"
#include "tests/support/FixtureKit.h"
#include "tests/support/TreePtr.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <string>

using namespace testsupport;
using Bytes = std::vector<std::uint8_t>;

namespace {

// cut.wav: 8,017 frames of 16-bit mono, 16,078 bytes; whole.wav: 4,074 frames, 8,192 bytes
// (16 sectors, so it can end exactly with a device).
std::string WavFolder() {
    return CachedFixture("cut-carving-wav-1", [](const std::string& tmp) {
        std::filesystem::create_directories(tmp);
        const std::string script =
            "import math, os, struct, sys, wave\n"
            "for name, frames in (('cut.wav', 8017), ('whole.wav', 4074)):\n"
            "    w = wave.open(os.path.join(sys.argv[1], name), 'wb')\n"
            "    w.setnchannels(1); w.setsampwidth(2); w.setframerate(8000)\n"
            "    w.writeframes(b''.join(struct.pack('<h', int(9000 * math.sin(i / 5.0)))\n"
            "                           for i in range(frames)))\n"
            "    w.close()\n";
        return MustRun("python3 -c " + ShellQuote(script) + " " + ShellQuote(tmp));
    });
}

// The carved file of `type` in the RAW tree (its type folder's only file), or null.
CRAWFileProperties* CarvedFile(CFileNode* root, std::uint32_t type, CFileNode** node) {
    for (CFileNode* folder = root->m_pFirstChild; folder; folder = folder->m_pNextSibling)
        if (std::string(folder->m_pProperties->GetName()) == GetRawFileTypeDescription(type)) {
            *node = folder->m_pFirstChild;
            return *node ? dynamic_cast<CRAWFileProperties*>((*node)->m_pProperties.get()) : nullptr;
        }
    return nullptr;
}

FileTreePtr SaveAndRestore(CFileSystemNode* root, IStorageDevice& device, const std::string& dir) {
    const std::string path = dir + "/state.rdf";
    {
        CRSDataEx writer(RSDATA_WRITE);
        EXPECT_TRUE(writer.Open(path.c_str(), true));
        writer.SetStage(2);
        EXPECT_EQ(SaveFileTree(&writer, root, nullptr), 1);
        writer.Close();
    }
    const Bytes bytes = ReadFileBytes(path);
    CRSDataEx reader(RSDATA_READ);
    EXPECT_TRUE(reader.OpenBuffer(bytes.data(), bytes.size()));
    FileTreePtr tree = LoadFileTree(&reader, nullptr);
    if (tree)
        FitFileTreeToDevice(tree.get(), device.GetSectorCount(), GetScanOptions().MaxRawFileSize);
    return tree;
}

// A carved file and the image it lies on, made with dd into a sparse image.
struct PlacedFile {
    std::string source; // the file
    std::string image;
};

// big.wav: 29,999,978 frames of 16-bit mono, 60,000,000 bytes: silence with a numbered mark every
// 64 KiB (so that a shifted copy shows), on a sparse 70 MiB image at sector 8.
PlacedFile BigWav() {
    const std::string dir = CachedFixture("cut-carving-big-wav-1", [](const std::string& tmp) {
        std::filesystem::create_directories(tmp);
        const std::string script =
            "import os, struct, sys, wave\n"
            "data = bytearray(29999978 * 2)\n"
            "for i in range(0, len(data) - 16, 65536):\n"
            "    data[i:i + 16] = struct.pack('<4I', i + 1, i ^ 0x5A5A5A5A, 0x1F2E3D4C, i // 65536 + 7)\n"
            "w = wave.open(os.path.join(sys.argv[1], 'big.wav'), 'wb')\n"
            "w.setnchannels(1); w.setsampwidth(2); w.setframerate(44100)\n"
            "w.writeframes(bytes(data))\n"
            "w.close()\n";
        const std::string wav = tmp + "/big.wav", image = tmp + "/big.img";
        return MustRun("python3 -c " + ShellQuote(script) + " " + ShellQuote(tmp)) &&
               MustRun("truncate -s 70M " + ShellQuote(image)) &&
               MustRun("dd if=" + ShellQuote(wav) + " of=" + ShellQuote(image) +
                       " bs=512 seek=8 conv=sparse,notrunc status=none");
    });
    if (dir.empty())
        return {};
    return {dir + "/big.wav", dir + "/big.img"};
}

// Puts `file` at sector 8 of an image with `tail` bytes behind it (dd into a sparse image).
bool PlaceAtSector8(const std::string& file, std::uint64_t bytes, std::uint64_t tail,
                    const std::string& image) {
    return MustRun("truncate -s " + std::to_string(bytes + 8 * kSectorSize + tail) + " " +
                   ShellQuote(image)) &&
           MustRun("dd if=" + ShellQuote(file) + " of=" + ShellQuote(image) +
                   " bs=512 seek=8 conv=sparse,notrunc status=none");
}

// A gzip file of `bytes` pseudo-random bytes (it stays about that large), at sector 8 of an
// image with `tail` bytes behind it.
PlacedFile Gzip(std::size_t bytes, std::uint64_t tail) {
    const std::string dir = CachedFixture(
        "cut-carving-gzip-" + std::to_string(bytes) + "-" + std::to_string(tail) + "-1",
        [&](const std::string& tmp) {
            std::filesystem::create_directories(tmp);
            const std::string data = tmp + "/data.bin", image = tmp + "/gz.img";
            return WriteFileBytes(data, PatternBytes(bytes, 41)) &&
                   MustRun("gzip -n -6 " + ShellQuote(data)) &&
                   PlaceAtSector8(data + ".gz", bytes, tail, image);
        });
    if (dir.empty())
        return {};
    return {dir + "/data.bin.gz", dir + "/gz.img"};
}

// A Word document of about 300 KB made by the compound writer (its FAT sectors lead the file,
// so the size its header gives is read within the limits below), at sector 8 of an image with
// `tail` bytes behind it.
PlacedFile CompoundDoc(std::uint64_t tail) {
    const std::string dir =
        CachedFixture("cut-carving-doc-" + std::to_string(tail) + "-1", [&](const std::string& tmp) {
            std::filesystem::create_directories(tmp);
            const std::string recipe =
                R"([{"file":"big.doc","shift":9,"root_clsid":"0609020000000000c000000000000046",)"
                R"("entries":[{"name":"WordDocument","type":"stream","size":300000,"seed":71},)"
                R"({"name":"1Table","type":"stream","size":5000,"seed":72}]}])";
            const std::string doc = tmp + "/big.doc", recipePath = tmp + "/recipe.json";
            if (!WriteFileBytes(recipePath, Bytes(recipe.begin(), recipe.end())) ||
                !MustRun(std::string(kDebianPython) + " " + ShellQuote(CompoundWriterScript()) + " " +
                         ShellQuote(tmp) + " " + ShellQuote(recipePath)))
                return false;
            std::string out;
            return MustRun(std::string(kDebianPython) + " " + ShellQuote(CompoundWriterScript()) +
                               " --check " + ShellQuote(recipePath) + " " + ShellQuote(doc),
                           &out) &&
                   out.find(" ok") != std::string::npos &&
                   PlaceAtSector8(doc, std::filesystem::file_size(doc), tail, tmp + "/doc.img");
        });
    if (dir.empty())
        return {};
    return {dir + "/big.doc", dir + "/doc.img"};
}

// The whole deep scan over `device` with the RAW search alone, in its own chunks (1,000
// sectors: the RAW search's ring holds 20 of them, about 10 MB).
void RunDeepScan(IStorageDevice& device, CRawFileList& list) {
    CRAWSearchController raw;
    raw.SetResultSink(&list);
    CIntelligentSearchController search;
    search.SetDevice(&device);
    search.AddController(&raw);
    EXPECT_EQ(search.Search(nullptr), 1);
}

// Restores the options' largest carved size on leaving.
struct LimitGuard {
    ~LimitGuard() { GetScanOptions().SetDefaults(); }
};

// The deep scan's carved-file list saved into a scan state, read back and fitted to the device,
// then built into a RAW tree again, as a restored deep scan goes on.
FileTreePtr RestoreDeepScan(const CRawFileList& list, IStorageDevice& device, const std::string& dir) {
    const std::string path = dir + "/scan.rdf";
    {
        CRSDataEx writer(RSDATA_WRITE);
        EXPECT_TRUE(writer.Open(path.c_str(), true));
        writer.SetStage(2);
        writer.OpenSection(kFoundFileListSection);
        SaveFoundFileList(&writer, list);
        writer.CloseSection();
        writer.Close();
    }
    const Bytes bytes = ReadFileBytes(path);
    CRSDataEx reader(RSDATA_READ);
    EXPECT_TRUE(reader.OpenBuffer(bytes.data(), bytes.size()));
    std::unique_ptr<CRawFileList> restored = LoadFoundFileList(&reader);
    if (!restored)
        return nullptr;
    FitCarvedFilesToDevice(*restored, device.GetSectorCount(), GetScanOptions().MaxRawFileSize);
    CRawFileTreeBuilder builder;
    return FileTreePtr(BuildRawFileTree(nullptr, nullptr, &builder, &device, restored->GetIterator(), 0));
}

} // namespace

TEST(CutCarvedFile, CutAtTheLargestCarvedSizeNamesTheSettingAndIsNotCountedAsRecovered) {
    ASSERT_TRUE(RequireTool("python3"));
    ASSERT_TRUE(RequireTool("gzip"));
    ASSERT_TRUE(RequireTool("dd"));
    const struct {
        const char* what;
        PlacedFile placed;
        std::uint32_t type;
        std::uint64_t limit; // the largest carved size of the settings
        bool claimed;        // the header gives the size: the limit cuts the file
        bool inRing;         // the search sizes it in its ring (else the tree, on the device)
        bool wholeScan = false; // through the whole deep scan rather than chunks of 64 sectors
    } cases[] = {
        {"WAV claiming 60,000,000 bytes", BigWav(), 63, 50000000, true, true},
        // Sized in the search's ring (it holds 20 chunks of 64 sectors, 640 KiB: the image goes
        // on 2 MiB behind the file, so the ring fills while the file is in it) and on the
        // device (the image ends before the ring fills, or the file passes the ring).
        {"gzip sized in the search", Gzip(300000, 2 << 20), 29, 200000, false, true},
        {"gzip sized on the device", Gzip(1500000, 65536), 29, 1000000, false, false},
        // The whole deep scan's ring fills only on an image 20 of its chunks longer than where
        // the file starts: 12 MiB behind the file, not 2 MiB.
        {"gzip sized in the whole deep scan", Gzip(300000, 12 << 20), 29, 200000, false, true, true},
        {"gzip sized on the device after the whole deep scan", Gzip(300000, 2 << 20), 29, 200000, false,
         false, true},
        {"compound file sized in the search", CompoundDoc(2 << 20), COMPOUND_DOC, 200000, true, true},
        {"compound file sized on the device", CompoundDoc(65536), COMPOUND_DOC, 200000, true, false},
    };
    LimitGuard restoreDefaults;
    const std::string logPath = carvingtest::ActivityLogPath();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_FALSE(c.placed.image.empty());
        GetScanOptions().SetDefaults();
        GetScanOptions().MaxRawFileSize = c.limit;
        const Bytes file = ReadFileBytes(c.placed.source);
        ASSERT_GT(file.size(), c.limit);
        const std::string scratch = ScratchDir("cut-carved-limit");

        CImageFileDevice device(c.placed.image.c_str());
        ASSERT_EQ(device.Open(), 1);
        CRawFileList list;
        if (c.wholeScan)
            RunDeepScan(device, list);
        else
            RunRawSearch(device, list, 64);
        const CRawFileInfo* found = list.FindAtSector(8);
        ASSERT_TRUE(found);
        // A compound file learns its kind when it is sized.
        EXPECT_EQ(found->m_u32FileType, c.type == COMPOUND_DOC && !c.inRing ? COMPOUND_OLE : c.type);
        EXPECT_EQ(found->m_u64Size != 0, c.inRing);
        // A size the scan found stopped past the limit; a claimed one is the file's own.
        if (c.inRing) {
            EXPECT_EQ(found->m_bScannedToLimit ? found->m_u64Size > c.limit : found->m_u64Size == file.size(),
                      true);
        }

        CRawFileTreeBuilder builder;
        TreePtr built(BuildRawFileTree(nullptr, nullptr, &builder, &device, list.GetIterator(), 0));
        ASSERT_TRUE(built);
        FileTreePtr restored = SaveAndRestore(built.get(), device, scratch);
        ASSERT_TRUE(restored);
        FileTreePtr rescanned = RestoreDeepScan(list, device, scratch);
        ASSERT_TRUE(rescanned);
        // The user raises the setting and opens the saved tree again.
        GetScanOptions().MaxRawFileSize = 2 * file.size();
        FileTreePtr raised = SaveAndRestore(built.get(), device, scratch);
        ASSERT_TRUE(raised);
        GetScanOptions().MaxRawFileSize = c.limit;

        const struct {
            const char* name;
            CFileSystemNode* root;
            std::uint64_t limit;
        } runs[] = {{"built", built.get(), c.limit},
                    {"restored", restored.get(), c.limit},
                    {"deep scan restored", rescanned.get(), c.limit},
                    {"restored with a larger setting", raised.get(), 2 * file.size()}};
        for (const auto& run : runs) {
            SCOPED_TRACE(run.name);
            // A larger setting gives the whole of a file whose header tells its size; what a
            // scan found stays what it was.
            const bool cut = c.claimed && run.limit == c.limit;
            const std::uint64_t size = c.claimed && !cut ? file.size() : c.limit;
            CFileNode* node = nullptr;
            CRAWFileProperties* carved = CarvedFile(run.root, c.type, &node);
            ASSERT_TRUE(carved);
            EXPECT_EQ(carved->GetFileSize(), size);
            EXPECT_EQ(carved->GetCut(), cut ? ClaimCut::SizeLimit : ClaimCut::None);
            EXPECT_EQ(carved->GetClaimedSizeWhenCut().bytes, cut ? file.size() : 0);
            ToggleCheckState(node, false);

            const std::size_t logBefore = ReadFileBytes(logPath).size();
            RecordingRecoverCallback callback;
            RecoverFolderJob job;
            std::string made;
            ASSERT_EQ(RecoverFolder(&callback, &device, &job, run.root, scratch + "/out", &made), 1);
            EXPECT_EQ(job.result, kRecoverDone);
            const std::string target =
                made + "/" + GetRawFileTypeDescription(c.type) + "/" + carved->GetName();
            const Bytes written = ReadFileBytes(target);
            EXPECT_TRUE(written.size() == size && std::equal(written.begin(), written.end(), file.begin()))
                << written.size() << " bytes written";
            EXPECT_EQ(callback.files, cut ? 0 : 1);
            EXPECT_EQ(callback.bytes, cut ? 0 : size);

            const std::string log = carvingtest::ActivityLogText().substr(logBefore);
            const std::string line = "The data of " + target +
                                     " is larger than the largest carved file size (" +
                                     std::to_string(c.limit) +
                                     " bytes, in Settings): it was recovered up to that size (" +
                                     std::to_string(c.limit) + " of " + std::to_string(file.size()) +
                                     " bytes)";
            EXPECT_EQ(log.find(line) != std::string::npos, cut) << log;
            EXPECT_EQ(log.find("largest carved file size") != std::string::npos, cut) << log;
            EXPECT_EQ(log.find("Failed to recover file: " + std::string(carved->GetName())) != std::string::npos,
                      cut)
                << log;
            EXPECT_EQ(log.find("past the end of the device"), std::string::npos) << log;
            std::filesystem::remove_all(made);
        }
    }
}

TEST(CutCarvedFile, WrittenUpToTheDeviceEndAndNotCountedAsRecovered) {
    ASSERT_TRUE(RequireTool("python3"));
    const std::string wavs = WavFolder();
    ASSERT_FALSE(wavs.empty());
    const struct {
        std::string source;
        std::uint32_t type;
        std::uint64_t startSector;
        std::uint64_t held;  // bytes of the file on the image, up to its end
        std::uint64_t whole; // the file's size
    } cases[] = {
        {wavs + "/cut.wav", 63, 8, 7680, 16078},
        {"/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf", 61, 2, 181248, 708920},
        {wavs + "/whole.wav", 63, 8, 8192, 8192}, // ends exactly with the image: not cut
    };
    GetScanOptions().SetDefaults();
    const std::string logPath = carvingtest::ActivityLogPath();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.source);
        const Bytes file = ReadFileBytes(c.source);
        ASSERT_EQ(file.size(), c.whole);
        const bool cut = c.held < c.whole;
        const std::string scratch = ScratchDir("cut-carved");
        Bytes image(c.startSector * kSectorSize, 0);
        image.insert(image.end(), file.begin(), file.begin() + c.held);
        const std::string imagePath = scratch + "/image.bin";
        ASSERT_TRUE(WriteFileBytes(imagePath, image));
        const Bytes held(file.begin(), file.begin() + c.held);

        CImageFileDevice device(imagePath.c_str());
        ASSERT_EQ(device.Open(), 1);
        ASSERT_EQ(device.GetSectorCount() * kSectorSize, c.startSector * kSectorSize + c.held);
        CRawFileList list;
        RunRawSearch(device, list, 64);
        const CRawFileInfo* found = nullptr;
        for (const CRawFileInfo* r : list.Records())
            if (r->m_u64StartSector == c.startSector)
                found = r;
        ASSERT_TRUE(found);
        EXPECT_EQ(found->m_u32FileType, c.type);
        EXPECT_EQ(found->m_u64Size, c.whole); // the header's size

        CRawFileTreeBuilder builder;
        TreePtr built(BuildRawFileTree(nullptr, nullptr, &builder, &device, list.GetIterator(), 0));
        ASSERT_TRUE(built);
        FileTreePtr restored = SaveAndRestore(built.get(), device, scratch);
        ASSERT_TRUE(restored);
        FileTreePtr rescanned = RestoreDeepScan(list, device, scratch);
        ASSERT_TRUE(rescanned);

        int run = 0;
        for (CFileSystemNode* root :
             {static_cast<CFileSystemNode*>(built.get()), restored.get(), rescanned.get()}) {
            const char* const names[] = {"built", "restored", "deep scan restored"};
            SCOPED_TRACE(names[run++]);
            CFileNode* node = nullptr;
            CRAWFileProperties* carved = CarvedFile(root, c.type, &node);
            ASSERT_TRUE(carved);
            EXPECT_EQ(carved->GetFileSize(), c.held);
            EXPECT_EQ(carved->IsCutAtDeviceEnd(), cut);
            ToggleCheckState(node, false);

            const std::size_t logBefore = ReadFileBytes(logPath).size();
            RecordingRecoverCallback callback;
            RecoverFolderJob job;
            std::string made;
            ASSERT_EQ(RecoverFolder(&callback, &device, &job, root, scratch + "/out", &made), 1);
            EXPECT_EQ(job.result, kRecoverDone);
            const std::string target =
                made + "/" + GetRawFileTypeDescription(c.type) + "/" + carved->GetName();
            EXPECT_EQ(ReadFileBytes(target), held);
            EXPECT_EQ(callback.files, cut ? 0 : 1);
            EXPECT_EQ(callback.bytes, cut ? 0 : c.whole);

            const std::string log = carvingtest::ActivityLogText().substr(logBefore);
            const std::string pastEnd = "The data of " + target +
                                        " runs past the end of the device: it was recovered up to "
                                        "the device's end (" +
                                        std::to_string(c.held) + " of " + std::to_string(c.whole) +
                                        " bytes)";
            const std::string failed = "Failed to recover file: " + std::string(carved->GetName());
            EXPECT_EQ(log.find(pastEnd) != std::string::npos, cut) << log;
            EXPECT_EQ(log.find(failed) != std::string::npos, cut) << log;
        }
    }
}
