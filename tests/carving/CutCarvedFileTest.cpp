// Carved files that the end of the device cuts: a WAV made by Python's wave module and a
// TrueType font of the system's fonts, each with only its first part on a small image. The RAW
// search finds them, the RAW tree cuts them to the image, and recovery writes what the image
// holds without counting them as recovered; a file that ends exactly with the image comes back
// whole and counted. A tree saved into a scan state and restored over the image keeps the
// difference.
#include "carving/RAWFileProperties.h"
#include "carving/RawFileTreeBuilder.h"
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

} // namespace

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

        int run = 0;
        for (CFileSystemNode* root : {static_cast<CFileSystemNode*>(built.get()), restored.get()}) {
            SCOPED_TRACE(run++ ? "restored" : "built");
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
