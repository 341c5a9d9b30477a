// Carving end to end for archives, RIFF forms, audio and video: files made at test time by
// Python's archive and audio modules, ffmpeg, gcab and by hand (RAR, LZH, SWF, MIDI) are planted
// in an image of random data, the RAW search finds them (sizing from its ring what lies within
// it), the RAW tree sizes the rest on the image, and recovery writes them out byte for byte.
#include "carving/RAWSearchController.h"
#include "carving/RawFileTreeBuilder.h"
#include "carving/records/RawFileTypeTable.h"
#include "filesystems/FileNode.h"
#include "filesystems/FileProperties.h"
#include "logging/Log.h"
#include "recovery/FileRecovery.h"
#include "storage/ImageFileDevice.h"
#include "tests/carving/ActivityLog.h"
#include "tests/carving/RawSearchRun.h"
#include "tests/support/FixtureKit.h"
#include "tests/support/TreePtr.h"

#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <set>

using namespace testsupport;
using Bytes = std::vector<std::uint8_t>;

namespace {

// File, its type id, and whether it reaches beyond what the search's ring holds when the file
// is sized there (the RAW tree sizes those on the image).
const struct {
    const char* name;
    std::uint32_t type;
    bool pastRing;
} kFiles[] = {
    {"stored.zip", 68, false},      {"deflated.zip", 68, false}, {"zip64.zip", 68, false},
    {"descriptors.zip", 68, false}, {"big.zip", 68, true},       {"ustar.tar", 59, false},
    {"gnu.tar", 59, false},         {"one.gz", 29, false},       {"two.gz", 29, false},
    {"big.gz", 29, true},           {"tone.wav", 63, false},     {"clip.avi", 8, false},
    {"tone.au", 7, false},          {"song.mid", 36, false},     {"plain.swf", 58, false},
    {"packed.swf", 58, false},      {"old.rar", 54, false},      {"new4.rar", 54, false},
    {"five.rar", 54, false},        {"stored.lzh", 34, false},   {"box.cab", 10, false},
    {"m1l3.mp3", 41, false},        {"m2l3.mp3", 41, false},     {"m25l3.mp3", 41, false},
    {"m25vbr.mp3", 41, false},      {"m1l2.mp3", 41, false},     {"m2l2.mp3", 41, false},
    {"bigl3.mp3", 41, true},        {"clip.mp4", 42, false},     {"clip.mov", 40, false},
    {"clip.3gp", 2, false},         {"clip.asf", 6, false},      {"bigclip.mov", 40, true},
    {"bigclip.asf", 6, true},
};

// ffmpeg's outputs, made before the Python script (which wraps the layer II streams).
const char* const kFfmpeg[] = {
    "-f lavfi -i sine=frequency=440:sample_rate=44100 -t 3 -c:a libmp3lame -b:a 128k "
    "-id3v2_version 3 -metadata title=one m1l3.mp3",
    "-f lavfi -i sine=frequency=440:sample_rate=22050 -t 3 -c:a libmp3lame -b:a 80k "
    "-write_id3v1 1 -metadata title=two m2l3.mp3",
    "-f lavfi -i sine=frequency=440:sample_rate=11025 -t 3 -c:a libmp3lame -b:a 48k m25l3.mp3",
    "-f lavfi -i sine=frequency=440:sample_rate=11025 -t 3 -c:a libmp3lame -q:a 5 "
    "-id3v2_version 3 m25vbr.mp3",
    "-f lavfi -i sine=frequency=440:sample_rate=48000 -t 3 -c:a mp2 -b:a 192k m1l2.mp2",
    "-f lavfi -i sine=frequency=440:sample_rate=24000 -t 3 -c:a mp2 -b:a 64k m2l2.mp2",
    "-f lavfi -i sine=frequency=300:sample_rate=44100 -t 90 -c:a libmp3lame -b:a 128k bigl3.mp3",
    "-f lavfi -i testsrc=size=160x120:rate=10 -f lavfi -i sine=frequency=440:sample_rate=22050 "
    "-t 2 -c:v mpeg4 -c:a aac clip.mp4",
    "-f lavfi -i testsrc=size=160x120:rate=10 -f lavfi -i sine=frequency=440:sample_rate=22050 "
    "-t 2 -c:v mpeg4 -c:a aac clip.mov",
    "-f lavfi -i testsrc=size=160x120:rate=10 -f lavfi -i sine=frequency=440:sample_rate=22050 "
    "-t 2 -c:v mpeg4 -c:a aac -ar 8000 -ac 1 clip.3gp",
    "-f lavfi -i testsrc=size=160x120:rate=10 -f lavfi -i sine=frequency=440:sample_rate=22050 "
    "-t 2 -c:v mpeg4 -c:a pcm_s16le clip.avi",
    "-f lavfi -i testsrc=size=160x120:rate=10 -f lavfi -i sine=frequency=440:sample_rate=22050 "
    "-t 2 -c:v wmv2 -c:a wmav2 clip.asf",
    "-f lavfi -i 'nullsrc=s=320x240:r=25,geq=lum=random(1)*255:cb=128:cr=128' -t 1 -c:v mpeg4 "
    "-q:v 4 bigclip.mov",
    "-f lavfi -i 'nullsrc=s=320x240:r=25,geq=lum=random(1)*255:cb=128:cr=128' -t 1 -c:v wmv2 "
    "-q:v 4 bigclip.asf",
};

std::string MediaFolder() {
    return CachedFixture("carving-archives-media-3", [](const std::string& tmp) {
        std::filesystem::create_directories(tmp);
        for (const char* args : kFfmpeg)
            if (!MustRun("cd " + ShellQuote(tmp) +
                         " && ffmpeg -hide_banner -loglevel error -nostdin -y -bitexact " + args))
                return false;
        const std::string script =
            std::string(BRULIN_SOURCE_DIR) + "/tests/carving/fixtures/make_archives_media.py";
        if (!MustRun("python3 " + ShellQuote(script) + " " + ShellQuote(tmp)))
            return false;
        // A gzip member that reaches past the ring, and a cabinet.
        WriteFileBytes(tmp + "/big.raw", PatternBytes(900000, 5));
        if (!MustRun("gzip -n -6 " + ShellQuote(tmp + "/big.raw") + " && mv " +
                     ShellQuote(tmp + "/big.raw.gz") + " " + ShellQuote(tmp + "/big.gz")))
            return false;
        if (!MustRun("cd " + ShellQuote(tmp) + " && gcab -c -z box.cab cabsrc/a.txt cabsrc/b.bin"))
            return false;
        return MustRun("lha t " + ShellQuote(tmp + "/stored.lzh") + " >/dev/null") &&
               MustRun("lha t " + ShellQuote(tmp + "/level2.lzh") + " >/dev/null");
    });
}

constexpr std::uint64_t kImageBytes = 24ull << 20;
constexpr std::uint32_t kStep = 64; // sectors a chunk: the ring holds 20 of them (640 KiB)

struct Planted {
    std::string name;
    std::uint32_t type;
    bool pastRing;
    std::uint64_t sector;
    Bytes bytes;
};

// Each file at a sector, with 3 to 40 sectors of random data behind it; some start in the
// middle of a chunk, so files cross the chunks' and the ring's edges.
std::vector<Planted> Layout(const std::string& folder) {
    std::vector<Planted> out;
    std::uint64_t sector = 2048 + 13;
    std::uint32_t gap = 3;
    for (const auto& f : kFiles) {
        Planted p{f.name, f.type, f.pastRing, sector, ReadFileBytes(folder + "/" + f.name)};
        sector += (p.bytes.size() + 511) / 512 + gap;
        gap = gap * 7 % 41 + 3;
        out.push_back(std::move(p));
    }
    return out;
}

std::string ImagePath(const std::string& folder) {
    return CachedFixture("carving-archives-media-image-3.bin", [&](const std::string& tmp) {
        Bytes image = PatternBytes(kImageBytes, 1919);
        std::memset(image.data(), 0, 1 << 20);
        for (const Planted& p : Layout(folder)) {
            if (p.bytes.empty() || p.sector * 512 + p.bytes.size() > image.size())
                return false;
            std::memcpy(image.data() + p.sector * 512, p.bytes.data(), p.bytes.size());
        }
        return WriteFileBytes(tmp, image);
    });
}

// The RAW search over the whole device, chunk after chunk, into `list`.
void SearchDevice(IStorageDevice& device, CRawFileList& list) {
    RunRawSearch(device, list, kStep);
}

void CollectFiles(const std::string& folder, std::map<std::string, std::vector<Bytes>>* byFolder) {
    for (const auto& e : std::filesystem::recursive_directory_iterator(folder))
        if (e.is_regular_file())
            (*byFolder)[e.path().parent_path().filename().string()].push_back(
                ReadFileBytes(e.path().string()));
}

} // namespace

TEST(ArchiveMediaCarving, CarvesSizesAndRecoversPlantedFiles) {
    for (const char* tool : {"python3", "ffmpeg", "gcab", "lha", "gzip"})
        ASSERT_TRUE(RequireTool(tool));
    const std::string folder = MediaFolder();
    ASSERT_FALSE(folder.empty());
    const std::string imagePath = ImagePath(folder);
    ASSERT_FALSE(imagePath.empty());
    const std::vector<Planted> planted = Layout(folder);

    GetScanOptions().SetDefaults();
    CImageFileDevice device(imagePath.c_str());
    ASSERT_EQ(device.Open(), 1);
    CRawFileList list;
    SearchDevice(device, list);

    std::map<std::uint64_t, const CRawFileInfo*> bySector;
    for (const CRawFileInfo* r : list.Records())
        bySector[r->m_u64StartSector] = r;
    for (const Planted& p : planted) {
        SCOPED_TRACE(p.name);
        ASSERT_TRUE(bySector.count(p.sector));
        const CRawFileInfo* r = bySector[p.sector];
        EXPECT_EQ(r->m_u32FileType, p.type);
        // Sized from the ring when it holds the whole file, left to the tree otherwise; never
        // a wrong size.
        EXPECT_EQ(r->m_u64Size, p.pastRing ? 0u : p.bytes.size());
    }

    CRawFileTreeBuilder builder;
    TreePtr root(BuildRawFileTree(nullptr, nullptr, &builder, &device, list.GetIterator(), 1));
    ASSERT_TRUE(root);
    std::set<std::string> wanted;
    for (const Planted& p : planted)
        wanted.insert(GetRawFileTypeDescription(p.type));
    for (CFileNode* c = root->m_pFirstChild; c; c = c->m_pNextSibling)
        if (wanted.count(c->m_pProperties->GetName()))
            ToggleCheckState(c, false);
    const std::string out = ScratchDir("carved-archives-media");
    RecoverFolderJob job;
    std::string made;
    ASSERT_EQ(RecoverFolder(nullptr, &device, &job, root.get(), out, &made), 1);
    EXPECT_EQ(job.result, kRecoverDone);

    std::map<std::string, std::vector<Bytes>> recovered;
    CollectFiles(made, &recovered);
    for (const Planted& p : planted) {
        SCOPED_TRACE(p.name);
        const auto& files = recovered[GetRawFileTypeDescription(p.type)];
        bool found = false;
        for (const Bytes& b : files)
            found = found || b == p.bytes;
        EXPECT_TRUE(found) << "no recovered file equals the original of " << p.bytes.size()
                           << " bytes";
    }
}

namespace {

void PutLe32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void PutBe32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
}

// Offset of the last top-level box of an ISO media file.
std::size_t LastBox(const Bytes& b) {
    std::size_t at = 0, last = 0;
    while (at + 8 <= b.size()) {
        const std::uint32_t size =
            (std::uint32_t(b[at]) << 24) | (b[at + 1] << 16) | (b[at + 2] << 8) | b[at + 3];
        if (size < 8)
            break;
        last = at;
        at += size;
    }
    return last;
}

// The carved file of `type` in the RAW tree, or null.
CFileNode* CarvedFile(CFileNode* root, std::uint32_t type) {
    for (CFileNode* folder = root->m_pFirstChild; folder; folder = folder->m_pNextSibling)
        if (std::string(folder->m_pProperties->GetName()) == GetRawFileTypeDescription(type))
            return folder->m_pFirstChild;
    return nullptr;
}

} // namespace

// A header whose size field was damaged claims gigabytes on an image of a few kilobytes: the
// carved file is cut at the end of the image (and at ScanOptions.MaxRawFileSize), says so in
// the log, and is recovered to the image's end without reading or writing past it.
TEST(ArchiveMediaCarving, DamagedSizesAreCutAtTheDeviceEnd) {
    const std::string folder = MediaFolder();
    ASSERT_FALSE(folder.empty());
    const std::string scratch = ScratchDir("damaged-sizes");
    const std::string logPath = carvingtest::ActivityLogPath();
    constexpr std::uint32_t kHuge = 0xFFFFFFF0u; // 4,294,967,280
    const struct {
        const char* name;
        std::uint32_t type;
        void (*damage)(Bytes&);
        bool headerSize; // the claimed size comes from the header alone
    } cases[] = {
        {"plain.swf", 58, [](Bytes& b) { PutLe32(b, 4, kHuge); }, true},
        {"tone.wav", 63, [](Bytes& b) { PutLe32(b, 4, kHuge); }, true},
        {"clip.avi", 8, [](Bytes& b) { PutLe32(b, 4, kHuge); }, true},
        {"tone.au", 7, [](Bytes& b) { PutBe32(b, 8, kHuge); }, true},
        {"box.cab", 10, [](Bytes& b) { PutLe32(b, 8, kHuge); }, true},
        {"clip.mp4", 42, [](Bytes& b) { PutBe32(b, LastBox(b), 0x7FFFFFF0u); }, false},
        {"clip.mov", 40, [](Bytes& b) { PutBe32(b, LastBox(b), 0x7FFFFFF0u); }, false},
    };
    GetScanOptions().SetDefaults();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // The file at sector 4 of a small image, a few sectors of filler behind it.
        Bytes file = ReadFileBytes(folder + "/" + c.name);
        ASSERT_GT(file.size(), 64u);
        c.damage(file);
        constexpr std::uint64_t kStart = 4;
        Bytes image(kStart * 512, 0);
        image.insert(image.end(), file.begin(), file.end());
        image.resize((image.size() + 511) / 512 * 512 + 3 * 512, 0x5A);
        const std::string imagePath = scratch + "/" + c.name + ".img";
        ASSERT_TRUE(WriteFileBytes(imagePath, image));
        const std::uint64_t held = image.size() - kStart * 512;

        CImageFileDevice device(imagePath.c_str());
        ASSERT_EQ(device.Open(), 1);
        CRawFileList list;
        SearchDevice(device, list);

        for (const std::uint64_t maxSize : {std::uint64_t(50000000), std::uint64_t(4096)}) {
            SCOPED_TRACE(maxSize);
            GetScanOptions().MaxRawFileSize = maxSize;
            CRawFileTreeBuilder builder;
            TreePtr root(
                BuildRawFileTree(nullptr, nullptr, &builder, &device, list.GetIterator(), 0));
            ASSERT_TRUE(root);
            CFileNode* carved = CarvedFile(root.get(), c.type);
            ASSERT_TRUE(carved);
            const std::uint64_t size = carved->m_pProperties->GetFileSize();
            EXPECT_LE(size, std::min(held, maxSize));
            if (c.headerSize) {
                EXPECT_EQ(size, std::min(held, maxSize));
            }
            ToggleCheckState(carved, false);
            RecoverFolderJob job;
            std::string made;
            ASSERT_EQ(RecoverFolder(nullptr, &device, &job, root.get(), scratch + "/out", &made),
                      1);
            EXPECT_EQ(job.result, kRecoverDone);
            const std::string recovered = made + "/" + GetRawFileTypeDescription(c.type) + "/" +
                                          carved->m_pProperties->GetName();
            EXPECT_EQ(ReadFileBytes(recovered),
                      Bytes(image.begin() + kStart * 512, image.begin() + kStart * 512 + size));
        }
        GetScanOptions().SetDefaults();
        if (c.headerSize) {
            const Bytes log = ReadFileBytes(logPath);
            const std::string line =
                "bytes; it is cut at the end of the device to " + std::to_string(held) + " bytes";
            EXPECT_NE(std::string(log.begin(), log.end()).find(line), std::string::npos) << line;
        }
    }
}
