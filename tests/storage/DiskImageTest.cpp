#include "storage/CompressController.h"
#include "storage/DiskImage.h"
#include "storage/ImageFileDevice.h"
#include "storage/ImageFileDeviceWithDecompress.h"

#include "tests/storage/ImageTestData.h"
#include "tests/support/DesktopUserKit.h"
#include "tests/support/FatImages.h"
#include "tests/support/FixtureKit.h"
#include "tests/support/MemoryDevice.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sys/stat.h>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <thread>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace imagetest;
using testsupport::MemoryDevice;
using testsupport::MustRun;
using testsupport::ShellQuote;
using testsupport::WriteFileBytes;

namespace {

class RecordingCallBack : public ICompressCallBack {
public:
    void PumpMessages() override { ++pumps; }
    int IsCancelled() override { return cancelAfter >= 0 && lastDone >= cancelAfter; }
    void OnBlockDone(std::uint64_t index) override {
        EXPECT_EQ(index, done.size());
        done.push_back(index);
        lastDone = static_cast<std::int64_t>(index);
    }
    void SetBlockCount(std::uint64_t first, std::uint64_t count) override {
        EXPECT_EQ(first, 0u);
        blockCount = count;
        ++setCountCalls;
    }
    void ClearNewSliceRequest(std::uint32_t stored) override { storedSizes.push_back(stored); }
    int IsNewSliceRequested() override {
        if (beforeBlock)
            beforeBlock(done.size());
        return newSliceAlways ? 1 : 0;
    }

    std::int64_t cancelAfter = -1;
    bool newSliceAlways = false;
    std::function<void(std::uint64_t)> beforeBlock;
    std::int64_t lastDone = -1;
    std::vector<std::uint64_t> done;
    std::vector<std::uint32_t> storedSizes;
    std::uint64_t blockCount = 0;
    int setCountCalls = 0;
    int pumps = 0;
};

struct ImageJob {
    CompressionType type = COMPRESSION_NONE;
    int level = -1;
    std::uint32_t sliceSectors = 0x7FFFF8;
    std::uint64_t first = 0;
    std::uint64_t count = ~std::uint64_t(0);  // whole device
    const char* name = "MemoryDevice 0";
    std::uint32_t heads = 255;
};

int WriteImage(IStorageDevice& source, const std::string& path, const ImageJob& job,
               RecordingCallBack* cb = nullptr, CCompressController* use = nullptr) {
    RecordingCallBack local;
    CCompressController own;
    CCompressController& c = use ? *use : own;
    std::uint64_t count = job.count == ~std::uint64_t(0) ? source.GetSectorCount() - job.first : job.count;
    c.Setup(&source, job.name, job.first, count, job.heads);
    c.SetCompressionType(job.type);
    c.SetCompressionLevel(job.level);
    c.SetCompressor(CreateCompressor(job.type));
    c.SetSliceSize(job.sliceSectors);
    c.SetImagePath(path);
    return c.CreateImage(cb ? cb : &local);
}

ImageHeaderInfo ReadHeader(const std::string& path) {
    std::vector<std::uint8_t> bytes = LoadFile(path);
    ImageHeaderInfo h;
    EXPECT_TRUE(h.Parse(bytes.data(), bytes.size()));
    return h;
}

std::uint32_t IndexEntry(const std::string& path, std::uint64_t block) {
    std::vector<std::uint8_t> bytes = LoadFile(path);
    std::uint64_t at = 512 + 4 * block;
    EXPECT_LE(at + 4, bytes.size());
    if (at + 4 > bytes.size())
        return 0;
    std::uint32_t v;
    std::memcpy(&v, bytes.data() + at, 4);
    return v;
}

// Reads the whole device in chunks of `chunk` sectors.
std::vector<std::uint8_t> ReadAll(IStorageDevice& d, std::uint64_t chunk) {
    std::uint64_t n = d.GetSectorCount();
    std::vector<std::uint8_t> out(n * 512);
    for (std::uint64_t s = 0; s < n; s += chunk) {
        std::uint64_t k = std::min(chunk, n - s);
        EXPECT_EQ(d.ReadSectors(out.data() + s * 512, s, k), 1) << "at sector " << s;
    }
    return out;
}

// Decodes images with the independent Python reader (one run for all of them); returns the
// imaged bytes of each and the reader's summary lines.
std::vector<std::vector<std::uint8_t>> DecodeWithPython(const std::vector<std::string>& mainPaths,
                                                        std::string* summary) {
    std::string command = "python3 " + ShellQuote(DecodeScript()) + " image";
    for (const std::string& p : mainPaths)
        command += " " + ShellQuote(p) + " " + ShellQuote(p + ".python.bin");
    std::vector<std::vector<std::uint8_t>> out;
    if (!MustRun(command, summary))
        return out;
    for (const std::string& p : mainPaths)
        out.push_back(LoadFile(p + ".python.bin"));
    return out;
}

}  // namespace

TEST(DiskImagePaths, SliceAndListNamesComeFromTheFileName) {
    struct Row {
        const char* main;
        const char* slice2;
        const char* list;
    } rows[] = {
        {"/img/disk.edi", "/img/disk.part2.edf", "/img/disk.edp"},
        {"/img/a.b.edi", "/img/a.b.part2.edf", "/img/a.b.edp"},
        {"/img.d/disk", "/img.d/disk.part2.edf", "/img.d/disk.edp"},
        {"disk", "disk.part2.edf", "disk.edp"},
        {"./x.edi", "./x.part2.edf", "./x.edp"},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(ImageSlicePath(r.main, 2), r.slice2);
        EXPECT_EQ(ImageSliceListPath(r.main), r.list);
    }
}

TEST(DiskImagePaths, SliceListLines) {
    const char text[] = "/a/x.part0.edf\r\n/a/x.part1.edf\n C:\\img\\x.part2.edf\r\nlast";
    std::vector<std::string> lines = ParseSliceList(text, sizeof text - 1, 10);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "/a/x.part0.edf");
    EXPECT_EQ(lines[1], "/a/x.part1.edf");
    EXPECT_EQ(lines[2], " C:\\img\\x.part2.edf");
    EXPECT_EQ(lines[3], "last");
    EXPECT_EQ(ParseSliceList(text, sizeof text - 1, 2).size(), 2u);
    std::string longLine(kImageMaxSliceListLine + 1, 'a');
    EXPECT_TRUE(ParseSliceList(longLine.data(), longLine.size(), 5).empty());
}

// 1000 sectors of every kind through every codec: four blocks (3 x 256 + 232) in one slice,
// read back through the reader in several chunk sizes and by the independent decoder.
TEST(DiskImage, RoundTripEveryCodecFromMemoryDevice) {
    std::string dir = testsupport::ScratchDir("image-roundtrip");
    struct Row {
        CompressionType type;
        int level;
    } rows[] = {{COMPRESSION_NONE, -1}, {COMPRESSION_ZLIB, 1}, {COMPRESSION_ZLIB, 5},
                {COMPRESSION_ZLIB, 9},  {COMPRESSION_BZIP2, 9}, {COMPRESSION_LZMA, 5}};
    std::vector<std::uint8_t> source = MakeSectors(Fill::Mixed, 1000, 5);
    // Block 1 random (stored raw by every codec), block 2 zero.
    std::vector<std::uint8_t> random = MakeSectors(Fill::Random, 256, 9);
    std::memcpy(source.data() + 256 * 512, random.data(), random.size());
    std::memset(source.data() + 512 * 512, 0, 256 * 512);
    std::vector<std::string> paths;
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << "type " << r.type << " level " << r.level);
        MemoryDevice dev(source);
        std::string path = dir + "/t" + std::to_string(r.type) + "l" + std::to_string(r.level) + ".edi";
        RecordingCallBack cb;
        ImageJob job;
        job.type = r.type;
        job.level = r.level;
        job.heads = 16;
        job.name = "Disk 1 (MemoryDevice)";
        ASSERT_EQ(WriteImage(dev, path, job, &cb), 1);
        EXPECT_EQ(cb.blockCount, 4u);
        EXPECT_EQ(cb.setCountCalls, 1);
        EXPECT_EQ(cb.done, (std::vector<std::uint64_t>{0, 1, 2, 3}));
        EXPECT_EQ(cb.pumps, 4);
        ASSERT_EQ(cb.storedSizes.size(), 4u);
        EXPECT_EQ(cb.storedSizes[1], 131072u);  // random: raw
        EXPECT_EQ(cb.storedSizes[3] < 232u * 512, r.type != COMPRESSION_NONE);

        ImageHeaderInfo h = ReadHeader(path);
        EXPECT_STREQ(h.sourceName, "Disk 1 (MemoryDevice)");
        EXPECT_EQ(h.compressionType, r.type);
        EXPECT_EQ(h.headsPerCylinder, 16u);
        EXPECT_EQ(h.sliceCount, 1u);
        EXPECT_EQ(h.totalBlocks, 4u);
        EXPECT_EQ(h.blocksInSlice[0], 4u);

        CImageFileDeviceWithDecompress img(path.c_str());
        ASSERT_EQ(img.CheckSliceFiles(), 1);
        // The size is the source's, not whole blocks: the last block holds the remainder.
        EXPECT_EQ(img.GetSectorCount(), 1000u);
        char name[260];
        img.GetSourceName(name);
        EXPECT_STREQ(name, "Disk 1 (MemoryDevice)");
        EXPECT_EQ(ReadImageHeadsPerCylinder(img.GetImageFile()), 16u);
        for (std::uint64_t chunk : {1u, 7u, 256u, 1000u}) {
            SCOPED_TRACE(chunk);
            EXPECT_EQ(ReadAll(img, chunk), source);
        }
        paths.push_back(path);
    }
    std::string summary;
    std::vector<std::vector<std::uint8_t>> decoded = DecodeWithPython(paths, &summary);
    ASSERT_EQ(decoded.size(), paths.size());
    for (const auto& d : decoded)
        EXPECT_EQ(d, source);
    // The first image is raw; the five others have three coded blocks and the random one raw.
    std::string expected = "blocks=4 coded=0 raw=4\n";
    for (int i = 1; i < 6; ++i)
        expected += "blocks=4 coded=3 raw=1\n";
    EXPECT_EQ(summary, expected);
}

// Edge reads on a 1000-sector image.
TEST(DiskImage, ReadsAcrossBlocksAndPastTheEnd) {
    std::string dir = testsupport::ScratchDir("image-reads");
    std::vector<std::uint8_t> source = MakeSectors(Fill::Tagged, 1000);
    // Coded blocks, and blocks stored as they are (read straight from the slice).
    for (CompressionType type : {COMPRESSION_ZLIB, COMPRESSION_NONE}) {
        SCOPED_TRACE(testing::Message() << "type " << type);
        MemoryDevice dev(source);
        ImageJob job;
        job.type = type;
        job.level = 5;
        std::string path = dir + "/r" + std::to_string(type) + ".edi";
        ASSERT_EQ(WriteImage(dev, path, job), 1);
        CImageFileDeviceWithDecompress img(path.c_str());
        ASSERT_EQ(img.CheckSliceFiles(), 1);
        EXPECT_EQ(img.GetMissingSectorCount(), 0u);

        std::vector<std::uint8_t> buf(2000 * 512, 0xCC);
        // 6 sectors from block 0 and 4 from block 1, and a read across three blocks.
        ASSERT_EQ(img.ReadSectors(buf.data(), 250, 10), 1);
        EXPECT_EQ(0, std::memcmp(buf.data(), source.data() + 250 * 512, 10 * 512));
        ASSERT_EQ(img.ReadSectors(buf.data(), 200, 700), 1);
        EXPECT_EQ(0, std::memcmp(buf.data(), source.data() + 200 * 512, 700 * 512));
        ASSERT_EQ(img.GetSectorCount(), 1000u);
        // Past the end: the sectors the image has, zeros for the rest, and a failure.
        std::fill(buf.begin(), buf.end(), 0xCC);
        EXPECT_EQ(img.ReadSectors(buf.data(), 995, 30), 0);
        EXPECT_EQ(0, std::memcmp(buf.data(), source.data() + 995 * 512, 5 * 512));
        EXPECT_EQ(std::vector<std::uint8_t>(buf.begin() + 5 * 512, buf.begin() + 30 * 512),
                  std::vector<std::uint8_t>(25 * 512, 0));
        EXPECT_EQ(img.ReadSectors(buf.data(), 0, 1000), 1);
        EXPECT_EQ(0, std::memcmp(buf.data(), source.data(), 1000 * 512));
        // Refused reads.
        EXPECT_EQ(img.ReadSectors(buf.data(), 0, 2000), 0);
        EXPECT_EQ(img.ReadSectors(buf.data(), 1000, 1), 0);
        EXPECT_EQ(img.ReadSectors(buf.data(), ~std::uint64_t(0), 1), 0);
        EXPECT_EQ(img.ReadSectors(buf.data(), 1u << 31, 1), 0);
    }
}

// Real FAT and EXT2 file systems, read from their image files, imaged whole and as a sector
// range.
TEST(DiskImage, RoundTripRealFileSystems) {
    ASSERT_TRUE(testsupport::RequireFatTools());
    ASSERT_TRUE(testsupport::RequireTool("mke2fs"));
    std::string fat = testsupport::CachedFixture("image-codec-fat16.img", [](const std::string& tmp) {
        testsupport::FatImageOptions o;
        o.sizeKiB = 16 * 1024;
        o.label = "IMGTEST";
        if (!testsupport::FatImage::Format(tmp, o))
            return false;
        testsupport::FatImage img(tmp);
        return img.MakeDir("/docs") &&
               img.WriteFile("/docs/text.txt", MakeSectors(Fill::Text, 300)) &&
               img.WriteFile("/random.bin", MakeSectors(Fill::Random, 900, 21)) &&
               img.WriteFile("/tagged.bin", MakeSectors(Fill::Tagged, 700));
    });
    std::string ext = testsupport::CachedFixture("image-codec-ext2.img", [](const std::string& tmp) {
        std::string tree = tmp + ".d";
        fs::create_directories(tree + "/sub");
        bool ok = WriteFileBytes(tree + "/sub/text.txt", MakeSectors(Fill::Text, 200)) &&
                  WriteFileBytes(tree + "/random.bin", MakeSectors(Fill::Random, 600, 4));
        ok = ok && MustRun("mke2fs -q -F -t ext2 -b 1024 -d " + ShellQuote(tree) + " " +
                           ShellQuote(tmp) + " 6144");
        fs::remove_all(tree);
        return ok;
    });
    ASSERT_FALSE(fat.empty());
    ASSERT_FALSE(ext.empty());
    std::string dir = testsupport::ScratchDir("image-realfs");
    struct Row {
        const std::string* file;
        CompressionType type;
        int level;
        std::uint64_t first, count;  // count 0: whole
    } rows[] = {{&fat, COMPRESSION_ZLIB, 1, 0, 0},
                {&fat, COMPRESSION_LZMA, 5, 63, 5000},
                {&ext, COMPRESSION_BZIP2, 1, 0, 0},
                {&ext, COMPRESSION_ZLIB, 9, 2, 10000}};
    int n = 0;
    std::vector<std::string> paths;
    std::vector<std::vector<std::uint8_t>> wants;
    for (const Row& r : rows) {
        SCOPED_TRACE(*r.file + " type " + std::to_string(r.type));
        std::vector<std::uint8_t> bytes = LoadFile(*r.file);
        CImageFileDevice dev(r.file->c_str());
        ASSERT_EQ(dev.GetSectorCount() * 512, bytes.size());
        ImageJob job;
        job.type = r.type;
        job.level = r.level;
        job.first = r.first;
        if (r.count)
            job.count = r.count;
        std::uint64_t count = r.count ? r.count : dev.GetSectorCount();
        std::string path = dir + "/fs" + std::to_string(n++) + ".edi";
        ASSERT_EQ(WriteImage(dev, path, job), 1);
        std::vector<std::uint8_t> want(bytes.begin() + r.first * 512,
                                       bytes.begin() + (r.first + count) * 512);
        CImageFileDeviceWithDecompress img(path.c_str());
        ASSERT_EQ(img.CheckSliceFiles(), 1);
        EXPECT_EQ(img.GetSectorCount(), count);
        EXPECT_EQ(ReadAll(img, 1000), want);
        paths.push_back(path);
        wants.push_back(want);
    }
    std::string summary;
    EXPECT_EQ(DecodeWithPython(paths, &summary), wants);
}

// A small slice size: a block joins a slice only while 512 + the slice's bytes stay below the
// slice size; each slice's index restarts at 0 and the reader finds every block.
TEST(DiskImage, SliceSizeLimitStartsNewSlices) {
    std::string dir = testsupport::ScratchDir("image-slices");
    std::vector<std::uint8_t> source = MakeSectors(Fill::Random, 10 * 256 + 100, 2);
    MemoryDevice dev(source);
    ImageJob job;
    job.type = COMPRESSION_ZLIB;  // random data: every block stored raw (131072 bytes)
    job.level = 5;
    job.sliceSectors = 0x400;  // 512 KiB: 3 blocks fit (3 * 131072 + 512 < 524288)
    std::string path = dir + "/s.edi";
    ASSERT_EQ(WriteImage(dev, path, job), 1);
    ImageHeaderInfo h = ReadHeader(path);
    EXPECT_EQ(h.totalBlocks, 11u);
    ASSERT_EQ(h.sliceCount, 4u);
    EXPECT_EQ(h.blocksInSlice[0], 3u);
    EXPECT_EQ(h.blocksInSlice[1], 3u);
    EXPECT_EQ(h.blocksInSlice[2], 3u);
    EXPECT_EQ(h.blocksInSlice[3], 2u);
    EXPECT_EQ(IndexEntry(path, 2), 3u * 131072);
    EXPECT_EQ(IndexEntry(path, 3), 131072u);  // first block of slice 1 starts again at 0
    for (unsigned s = 0; s < 4; ++s)
        EXPECT_LT(fs::file_size(ImageSlicePath(path, s)), 0x400u * 512);
    std::vector<std::uint8_t> list = LoadFile(ImageSliceListPath(path));
    std::string expected;
    for (unsigned s = 0; s < 4; ++s)
        expected += ImageSlicePath(path, s) + "\r\n";
    EXPECT_EQ(std::string(list.begin(), list.end()), expected);

    CImageFileDeviceWithDecompress img(path.c_str());
    ASSERT_EQ(img.CheckSliceFiles(), 1);
    EXPECT_EQ(ReadAll(img, 1000), source);
    // Backwards across slices.
    std::vector<std::uint8_t> sector(512);
    for (std::uint64_t s : {2650ull, 1000ull, 5ull, 1800ull, 768ull, 767ull}) {
        ASSERT_EQ(img.ReadSectors(sector.data(), s, 1), 1);
        EXPECT_EQ(0, std::memcmp(sector.data(), source.data() + s * 512, 512)) << s;
    }
    std::string summary;
    EXPECT_EQ(DecodeWithPython({path}, &summary), std::vector<std::vector<std::uint8_t>>{source});
}

// A request for a new slice before every block; a new location for later slices; the 59-slice
// limit fails the image but leaves a readable, consistent one.
TEST(DiskImage, NewSliceRequestsAndSliceLimit) {
    std::string dir = testsupport::ScratchDir("image-request");
    std::vector<std::uint8_t> source = MakeSectors(Fill::Tagged, 20 * 256);
    {
        MemoryDevice dev(source);
        std::string other = dir + "/elsewhere";
        fs::create_directories(other);
        CCompressController c;
        RecordingCallBack cb;
        cb.newSliceAlways = true;
        cb.beforeBlock = [&](std::uint64_t block) {
            if (block == 10)
                c.SetImagePath(other + "/moved.edi");
        };
        ImageJob job;
        job.type = COMPRESSION_LZMA;
        std::string path = dir + "/every.edi";
        ASSERT_EQ(WriteImage(dev, path, job, &cb, &c), 1);
        ImageHeaderInfo h = ReadHeader(path);
        EXPECT_EQ(h.totalBlocks, 20u);
        ASSERT_EQ(h.sliceCount, 21u);
        EXPECT_EQ(h.blocksInSlice[0], 0u);
        for (unsigned s = 1; s <= 20; ++s)
            EXPECT_EQ(h.blocksInSlice[s], 1u) << s;
        EXPECT_TRUE(fs::exists(other + "/moved.part11.edf"));
        EXPECT_FALSE(fs::exists(dir + "/every.part11.edf"));
        EXPECT_TRUE(fs::exists(ImageSliceListPath(path)));
        CImageFileDeviceWithDecompress img(path.c_str());
        ASSERT_EQ(img.CheckSliceFiles(), 1);
        EXPECT_EQ(ReadAll(img, 300), source);
    }
    {
        std::vector<std::uint8_t> big = MakeSectors(Fill::Text, 70 * 256);
        MemoryDevice dev(big);
        RecordingCallBack cb;
        cb.newSliceAlways = true;
        ImageJob job;
        std::string path = dir + "/limit.edi";
        EXPECT_EQ(WriteImage(dev, path, job, &cb), 0);
        EXPECT_FALSE(fs::exists(ImageSlicePath(path, 59)));
        ImageHeaderInfo h = ReadHeader(path);
        EXPECT_EQ(h.sliceCount, 59u);
        EXPECT_EQ(h.totalBlocks, 58u);
        CImageFileDeviceWithDecompress img(path.c_str());
        ASSERT_EQ(img.CheckSliceFiles(), 1);
        EXPECT_EQ(ReadAll(img, 1000),
                  std::vector<std::uint8_t>(big.begin(), big.begin() + 58 * 256 * 512));
    }
}

TEST(DiskImage, CancelAfterBlockNineLeavesTenBlocks) {
    std::string dir = testsupport::ScratchDir("image-cancel");
    std::vector<std::uint8_t> source = MakeSectors(Fill::Mixed, 30 * 256);
    MemoryDevice dev(source);
    RecordingCallBack cb;
    cb.cancelAfter = 9;
    ImageJob job;
    job.type = COMPRESSION_BZIP2;
    job.level = 9;
    std::string path = dir + "/c.edi";
    ASSERT_EQ(WriteImage(dev, path, job, &cb), 1);
    EXPECT_EQ(cb.blockCount, 30u);
    EXPECT_EQ(cb.done.size(), 10u);
    ImageHeaderInfo h = ReadHeader(path);
    EXPECT_EQ(h.totalBlocks, 10u);
    EXPECT_EQ(h.sliceCount, 1u);
    EXPECT_EQ(h.blocksInSlice[0], 10u);
    CImageFileDeviceWithDecompress img(path.c_str());
    ASSERT_EQ(img.CheckSliceFiles(), 1);
    EXPECT_EQ(ReadAll(img, 1000),
              std::vector<std::uint8_t>(source.begin(), source.begin() + 10 * 256 * 512));
}

// Unreadable source sectors: the block is retried sector by sector; what stays unreadable is
// stored as zeros and counted.
TEST(DiskImage, UnreadableSectorsAreZeroedAndCounted) {
    std::string dir = testsupport::ScratchDir("image-badsectors");
    std::vector<std::uint8_t> source = MakeSectors(Fill::Tagged, 600);
    MemoryDevice dev(source);
    for (std::uint64_t s : {3ull, 300ull, 301ull, 599ull})
        dev.FailSector(s);
    CCompressController c;
    ImageJob job;
    job.type = COMPRESSION_ZLIB;
    job.level = 1;
    std::string path = dir + "/b.edi";
    ASSERT_EQ(WriteImage(dev, path, job, nullptr, &c), 1);
    EXPECT_EQ(c.GetUnreadableSectorCount(), 4u);
    std::vector<std::uint8_t> want = source;
    for (std::uint64_t s : {3ull, 300ull, 301ull, 599ull})
        std::memset(want.data() + s * 512, 0, 512);
    CImageFileDeviceWithDecompress img(path.c_str());
    ASSERT_EQ(img.CheckSliceFiles(), 1);
    EXPECT_EQ(ReadAll(img, 1000), want);
}

TEST(DiskImage, WriterFailures) {
    std::string dir = testsupport::ScratchDir("image-writefail");
    std::vector<std::uint8_t> source = MakeSectors(Fill::Text, 8 * 256);
    MemoryDevice dev(source);
    ImageJob job;
    // No folder for the main file.
    EXPECT_EQ(WriteImage(dev, dir + "/missing/x.edi", job), 0);
    // Later slices sent to a folder that does not exist: the image fails, the blocks written
    // so far stay readable.
    CCompressController c;
    RecordingCallBack cb;
    cb.beforeBlock = [&](std::uint64_t block) {
        if (block == 5) {
            c.SetImagePath(dir + "/gone/y.edi");
            cb.newSliceAlways = true;
        }
    };
    std::string path = dir + "/y.edi";
    EXPECT_EQ(WriteImage(dev, path, job, &cb, &c), 0);
    ImageHeaderInfo h = ReadHeader(path);
    EXPECT_EQ(h.totalBlocks, 5u);
    CImageFileDeviceWithDecompress img(path.c_str());
    ASSERT_EQ(img.CheckSliceFiles(), 1);
    EXPECT_EQ(ReadAll(img, 1000),
              std::vector<std::uint8_t>(source.begin(), source.begin() + 5 * 256 * 512));
    // Not set up.
    CCompressController none;
    none.SetImagePath(dir + "/z.edi");
    EXPECT_EQ(none.CreateImage(nullptr), 0);
}

// Images made elsewhere: slice lists with LF endings or Windows paths, images moved as a
// folder.
TEST(DiskImage, SliceListsFromElsewhere) {
    std::string dir = testsupport::ScratchDir("image-moved");
    std::vector<std::uint8_t> source = MakeSectors(Fill::Random, 5 * 256);
    MemoryDevice dev(source);
    ImageJob job;
    job.type = COMPRESSION_ZLIB;  // random: blocks stored raw, so one block per slice
    job.level = 5;
    job.sliceSectors = 0x100;
    std::string made = dir + "/made";
    fs::create_directories(made);
    ASSERT_EQ(WriteImage(dev, made + "/m.edi", job), 1);
    ASSERT_EQ(ReadHeader(made + "/m.edi").sliceCount, 5u);
    std::string moved = dir + "/moved";
    fs::rename(made, moved);
    const std::string path = moved + "/m.edi";
    struct Row {
        const char* what;
        std::string list;
    } rows[] = {
        {"as written, folder moved", ""},
        {"Windows paths", "C:\\img\\m.part0.edf\r\nC:\\img\\m.part1.edf\r\nD:\\m.part2.edf\r\n"
                          "C:\\m.part3.edf\r\nC:\\m.part4.edf\r\n"},
        {"LF and POSIX paths", moved + "/m.part0.edf\n" + moved + "/m.part1.edf\n/nowhere/m.part2.edf\n" +
                                   moved + "/m.part3.edf\n" + moved + "/m.part4.edf"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        if (!r.list.empty()) {
            ASSERT_TRUE(WriteFileBytes(ImageSliceListPath(path),
                                       std::vector<std::uint8_t>(r.list.begin(), r.list.end())));
        }
        CImageFileDeviceWithDecompress img(path.c_str());
        ASSERT_EQ(img.CheckSliceFiles(), 1);
        EXPECT_EQ(ReadAll(img, 100), source);
    }
}

// Hand-damaged images.
TEST(DiskImage, DamagedImages) {
    std::string dir = testsupport::ScratchDir("image-damaged");
    std::vector<std::uint8_t> source = MakeSectors(Fill::Tagged, 6 * 256);
    ImageJob job;
    job.type = COMPRESSION_ZLIB;
    job.level = 9;
    auto make = [&](const std::string& name) {
        MemoryDevice dev(source);
        std::string path = dir + "/" + name + ".edi";
        EXPECT_EQ(WriteImage(dev, path, job), 1);
        return path;
    };
    auto patchU32 = [](const std::string& file, std::uint64_t at, std::uint32_t v) {
        std::vector<std::uint8_t> b = LoadFile(file);
        std::memcpy(b.data() + at, &v, 4);
        EXPECT_TRUE(WriteFileBytes(file, b));
    };
    std::vector<std::uint8_t> sector(512);
    std::vector<std::uint8_t> all(6 * 256 * 512);

    {
        SCOPED_TRACE("missing slice");
        MemoryDevice dev(source);
        ImageJob raw;
        raw.sliceSectors = 0x100;  // raw blocks: one per slice
        std::string p = dir + "/missing.edi";
        ASSERT_EQ(WriteImage(dev, p, raw), 1);
        ASSERT_EQ(ReadHeader(p).sliceCount, 6u);
        fs::remove(ImageSlicePath(p, 1));
        CImageFileDeviceWithDecompress img(p.c_str());
        EXPECT_EQ(img.CheckSliceFiles(), 0);
        fs::remove(ImageSliceListPath(p));
        CImageFileDeviceWithDecompress img2(p.c_str());
        EXPECT_EQ(img2.CheckSliceFiles(), 0);
        CImageFileDeviceWithDecompress none((dir + "/nothing.edi").c_str());
        EXPECT_EQ(none.CheckSliceFiles(), 0);
        EXPECT_EQ(none.GetSectorCount(), 0u);
        EXPECT_EQ(none.ReadSectors(sector.data(), 0, 1), 0);
        EXPECT_EQ(ReadImageHeadsPerCylinder(none.GetImageFile()), 255u);
    }
    {
        SCOPED_TRACE("slice count over 59");
        std::string p = make("many");
        patchU32(p, kImageOffsetSliceCount, 60);
        CImageFileDeviceWithDecompress img(p.c_str());
        EXPECT_EQ(img.CheckSliceFiles(), 0);
        EXPECT_EQ(img.GetSectorCount(), 0u);
    }
    {
        SCOPED_TRACE("index entry past the block limit");
        std::string p = make("entry");
        patchU32(p, 512 + 4 * 0, 200000);
        CImageFileDeviceWithDecompress img(p.c_str());
        ASSERT_EQ(img.CheckSliceFiles(), 1);
        std::fill(sector.begin(), sector.end(), 0xAA);
        EXPECT_EQ(img.ReadSectors(sector.data(), 0, 1), 0);
        EXPECT_EQ(sector, std::vector<std::uint8_t>(512, 0));
        // Block 1 now ends before it starts.
        EXPECT_EQ(img.ReadSectors(sector.data(), 256, 1), 0);
        // Other blocks are unaffected.
        EXPECT_EQ(img.ReadSectors(all.data(), 512, 1024), 1);
        EXPECT_EQ(0, std::memcmp(all.data(), source.data() + 512 * 512, 1024 * 512));
    }
    {
        SCOPED_TRACE("corrupt stream");
        std::string p = make("corrupt");
        ImageHeaderInfo h = ReadHeader(p);
        ASSERT_GE(h.blocksInSlice[0], 2u);
        std::uint32_t end0 = IndexEntry(p, 0);
        std::string slice = ImageSlicePath(p, 0);
        std::vector<std::uint8_t> b = LoadFile(slice);
        for (std::uint32_t i = 512 + 2; i < 512 + end0; i += 3)
            b[i] ^= 0xFF;
        ASSERT_TRUE(WriteFileBytes(slice, b));
        CImageFileDeviceWithDecompress img(p.c_str());
        ASSERT_EQ(img.CheckSliceFiles(), 1);
        std::fill(all.begin(), all.end(), 0xAA);
        EXPECT_EQ(img.ReadSectors(all.data(), 0, 6 * 256), 0);
        EXPECT_EQ(std::vector<std::uint8_t>(all.begin(), all.begin() + 256 * 512),
                  std::vector<std::uint8_t>(256 * 512, 0));
        EXPECT_EQ(0, std::memcmp(all.data() + 256 * 512, source.data() + 256 * 512, 5 * 256 * 512));
    }
    {
        SCOPED_TRACE("cut stream of whole sectors is not taken as raw data");
        std::string p = make("cut");
        ASSERT_GE(IndexEntry(p, 0), 512u);
        patchU32(p, 512 + 4 * 0, 512);  // block 0: the first 512 bytes of its stream
        CImageFileDeviceWithDecompress img(p.c_str());
        ASSERT_EQ(img.CheckSliceFiles(), 1);
        std::fill(sector.begin(), sector.end(), 0xAA);
        EXPECT_EQ(img.ReadSectors(sector.data(), 0, 1), 0);
        EXPECT_EQ(sector, std::vector<std::uint8_t>(512, 0));
    }
    {
        SCOPED_TRACE("slice counts cover fewer blocks than the total");
        std::string p = make("short");
        ImageHeaderInfo h = ReadHeader(p);
        patchU32(p, kImageOffsetSliceBlocks + 4 * (h.sliceCount - 1), h.blocksInSlice[h.sliceCount - 1] - 1);
        CImageFileDeviceWithDecompress img(p.c_str());
        ASSERT_EQ(img.CheckSliceFiles(), 1);
        // The smaller consistent count is used.
        ASSERT_EQ(img.GetSectorCount(), 5u * 256);
        std::fill(all.begin(), all.end(), 0xAA);
        EXPECT_EQ(img.ReadSectors(all.data(), 0, 5 * 256), 1);
        EXPECT_EQ(0, std::memcmp(all.data(), source.data(), 5 * 256 * 512));
        EXPECT_EQ(img.ReadSectors(all.data(), 5 * 256, 1), 0);
    }
    {
        SCOPED_TRACE("header claims more blocks than the index and the slices hold");
        std::string p = make("huge");
        patchU32(p, kImageOffsetTotalBlocks, 0xFFFFFFFFu);
        CImageFileDeviceWithDecompress img(p.c_str());
        ASSERT_EQ(img.CheckSliceFiles(), 1);
        EXPECT_EQ(img.GetSectorCount(), 6u * 256);
        EXPECT_EQ(ReadAll(img, 256), source);
        // The slices claim more too: the index (six entries) bounds the count.
        patchU32(p, kImageOffsetSliceBlocks, 0x7FFFFFFFu);
        CImageFileDeviceWithDecompress img2(p.c_str());
        EXPECT_EQ(img2.GetSectorCount(), 6u * 256);
        // A main file cut inside the index leaves the blocks it still indexes.
        std::vector<std::uint8_t> b = LoadFile(p);
        b.resize(512 + 4 * 3 + 2);
        ASSERT_TRUE(WriteFileBytes(p, b));
        CImageFileDeviceWithDecompress img3(p.c_str());
        EXPECT_EQ(img3.GetSectorCount(), 3u * 256);
    }
    {
        SCOPED_TRACE("short last block, readable and damaged");
        MemoryDevice dev(std::vector<std::uint8_t>(source.begin(), source.begin() + (5 * 256 + 100) * 512));
        std::string p = dir + "/tail.edi";
        ASSERT_EQ(WriteImage(dev, p, job), 1);
        {
            CImageFileDeviceWithDecompress img(p.c_str());
            EXPECT_EQ(img.GetSectorCount(), 5u * 256 + 100);
        }
        // Corrupt the last block's stream: whole blocks, and its sectors read as a failure.
        const std::uint32_t start = IndexEntry(p, 4), end = IndexEntry(p, 5);
        std::string slice = ImageSlicePath(p, 0);
        std::vector<std::uint8_t> b = LoadFile(slice);
        for (std::uint32_t i = 512 + start + 2; i < 512 + end; i += 3)
            b[i] ^= 0xFF;
        ASSERT_TRUE(WriteFileBytes(slice, b));
        CImageFileDeviceWithDecompress img(p.c_str());
        EXPECT_EQ(img.GetSectorCount(), 6u * 256);
        EXPECT_EQ(img.ReadSectors(all.data(), 5 * 256, 1), 0);
    }
}

// A slice file cut short: the image still opens, the missing blocks are counted at once, every
// read that touches them fails with their sectors zero-filled, and the rest reads exactly, in
// reads of any size, through stored and coded blocks alike and with or without read-ahead.
TEST(DiskImage, SliceCutShortFailsItsMissingBlocks) {
    std::string dir = testsupport::ScratchDir("image-cut");
    // 20 blocks and 40 sectors; blocks 5 and 6 random, so that a coded image stores them raw.
    constexpr std::uint64_t kSectors = 20 * 256 + 40;
    std::vector<std::uint8_t> source = MakeSectors(Fill::Mixed, kSectors, 7);
    std::vector<std::uint8_t> random = MakeSectors(Fill::Random, 2 * 256, 8);
    std::copy(random.begin(), random.end(), source.begin() + 5 * 256 * 512);
    struct Case {
        CompressionType type;
        unsigned slice;     // the slice cut
        std::int64_t keep;  // bytes of its data area kept; < 0: bytes cut from its end
        unsigned workers;
    };
    const Case cases[] = {
        {COMPRESSION_NONE, 1, 131072 + 300000 % 131072, 0}, // inside its second block
        {COMPRESSION_NONE, 0, 0, 0},                         // nothing but its first 512 bytes
        {COMPRESSION_NONE, 1, -1, 0},                        // the image's last sector
        {COMPRESSION_ZLIB, 0, 1000, 3},                      // inside its first block
        {COMPRESSION_ZLIB, 0, -17, 3},                       // the last block's end
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "type " << c.type << " slice " << c.slice << " keep " << c.keep);
        MemoryDevice dev(source);
        ImageJob job;
        job.type = c.type;
        job.level = 1;
        job.sliceSectors = 0xC00; // 1.5 MiB: at most 11 stored blocks a slice
        const std::string path = dir + "/c.edi";
        ASSERT_EQ(WriteImage(dev, path, job), 1);
        const ImageHeaderInfo h = ReadHeader(path);
        ASSERT_GT(h.sliceCount, c.slice);
        const std::string slice = ImageSlicePath(path, c.slice);
        const std::uint64_t keep = c.keep >= 0 ? std::uint64_t(c.keep) : fs::file_size(slice) - 512 + c.keep;
        // The blocks that end past the cut are the missing ones.
        std::set<std::uint64_t> missing;
        for (std::uint64_t b = h.firstBlockOfSlice[c.slice]; b < h.firstBlockOfSlice[c.slice + 1]; ++b)
            if (IndexEntry(path, b) > keep)
                missing.insert(b);
        ASSERT_FALSE(missing.empty());
        fs::resize_file(slice, 512 + keep);

        CImageFileDeviceWithDecompress img(path.c_str());
        img.SetReadAheadWorkers(c.workers);
        ASSERT_EQ(img.CheckSliceFiles(), 1);
        std::uint64_t missingSectors = 0;
        for (std::uint64_t b : missing)
            missingSectors += std::min<std::uint64_t>(256, img.GetSectorCount() - std::min(img.GetSectorCount(), b * 256));
        EXPECT_EQ(img.GetMissingSectorCount(), missingSectors);
        const bool lastMissing = missing.count(h.totalBlocks - 1) != 0;
        // Without its last block the image's size is taken as whole blocks.
        EXPECT_EQ(img.GetSectorCount(), lastMissing ? std::uint64_t(h.totalBlocks) * 256 : kSectors);
        const std::uint64_t sectors = img.GetSectorCount();
        std::vector<std::uint8_t> want(sectors * 512, 0);
        std::copy(source.begin(), source.begin() + std::min<std::size_t>(source.size(), want.size()), want.begin());
        for (std::uint64_t b : missing)
            std::fill(want.begin() + b * 256 * 512, want.begin() + std::min(sectors, (b + 1) * 256) * 512, 0);
        for (std::uint64_t chunk : std::vector<std::uint64_t>{1, 7, 100, 300, 1000, sectors}) {
            SCOPED_TRACE(chunk);
            std::vector<std::uint8_t> all(sectors * 512, 0xEE);
            for (std::uint64_t s = 0; s < sectors; s += chunk) {
                const std::uint64_t n = std::min(chunk, sectors - s);
                bool touches = false;
                for (std::uint64_t b = s / 256; b <= (s + n - 1) / 256; ++b)
                    touches = touches || missing.count(b);
                EXPECT_EQ(img.ReadSectors(all.data() + s * 512, s, n), touches ? 0 : 1) << "at " << s;
            }
            EXPECT_TRUE(all == want);
        }
    }
}

// Level -1 is every codec's default level, so text blocks are coded; a block the codec fails on
// is stored raw, counted and logged, never dropped.
TEST(DiskImage, DefaultLevelsCompressAndRawFallbacksAreCounted) {
    std::string dir = testsupport::ScratchDir("image-levels");
    std::vector<std::uint8_t> source = MakeSectors(Fill::Text, 512, 3);
    for (CompressionType type : {COMPRESSION_BZIP2, COMPRESSION_ZLIB, COMPRESSION_LZMA}) {
        SCOPED_TRACE(testing::Message() << "type " << type);
        MemoryDevice dev(source);
        ImageJob job;
        job.type = type;
        job.level = -1;
        RecordingCallBack cb;
        CCompressController c;
        const std::string path = dir + "/d" + std::to_string(type) + ".edi";
        ASSERT_EQ(WriteImage(dev, path, job, &cb, &c), 1);
        EXPECT_EQ(c.GetRawBlockCount(), 0u);
        ASSERT_EQ(cb.storedSizes.size(), 2u);
        EXPECT_LT(cb.storedSizes[0], kImageBlockBytes / 2);
    }
    // bzip2 has no level 10: the codec refuses to start and every block goes raw.
    MemoryDevice dev(source);
    ImageJob job;
    job.type = COMPRESSION_BZIP2;
    job.level = 10;
    RecordingCallBack cb;
    CCompressController c;
    const std::string path = dir + "/bad.edi";
    ASSERT_EQ(WriteImage(dev, path, job, &cb, &c), 1);
    EXPECT_EQ(c.GetRawBlockCount(), 2u);
    EXPECT_EQ(cb.storedSizes, (std::vector<std::uint32_t>{kImageBlockBytes, kImageBlockBytes}));
    CImageFileDeviceWithDecompress img(path.c_str());
    ASSERT_EQ(img.CheckSliceFiles(), 1);
    EXPECT_EQ(ReadAll(img, 256), source);
}

namespace {

// Logs every call in order and checks that each comes from the thread that writes the image.
class TraceCallBack : public ICompressCallBack {
public:
    void PumpMessages() override { Note("P"); }
    int IsCancelled() override {
        Note("C");
        return cancelAfter >= 0 && done > cancelAfter;
    }
    void OnBlockDone(std::uint64_t index) override {
        Note("D" + std::to_string(index));
        done = static_cast<std::int64_t>(index) + 1;
    }
    void SetBlockCount(std::uint64_t first, std::uint64_t count) override {
        Note("B" + std::to_string(first) + "," + std::to_string(count));
    }
    void ClearNewSliceRequest(std::uint32_t stored) override { Note("S" + std::to_string(stored)); }
    int IsNewSliceRequested() override {
        Note("N");
        return requestAt.count(done) ? 1 : 0;
    }

    std::int64_t cancelAfter = -1;
    std::set<std::int64_t> requestAt;
    std::int64_t done = 0;
    std::vector<std::string> trace;
    std::thread::id owner = std::this_thread::get_id();

private:
    void Note(const std::string& what) {
        EXPECT_EQ(std::this_thread::get_id(), owner) << what;
        trace.push_back(what);
    }
};

struct WrittenImage {
    int result = 0;
    std::map<std::string, std::vector<std::uint8_t>> files;
    std::vector<std::string> trace;
    std::uint64_t unreadable = 0;
    std::uint64_t rawBlocks = 0;
    std::uint32_t slices = 0;
};

WrittenImage WriteWithThreads(IStorageDevice& dev, const std::string& dir, CompressionType type,
                              int level, unsigned threads, std::int64_t cancelAfter) {
    fs::remove_all(dir);
    fs::create_directories(dir);
    CCompressController c;
    c.Setup(&dev, "threads", 3, dev.GetSectorCount() - 3, 255);
    c.SetCompressionType(type);
    c.SetCompressionLevel(level);
    c.SetCompressor(CreateCompressor(type));
    c.SetSliceSize(0x600);  // a new slice every few blocks
    c.SetThreadCount(threads);
    c.SetImagePath(dir + "/t.edi");
    TraceCallBack cb;
    cb.cancelAfter = cancelAfter;
    cb.requestAt = {2, 9, 10};
    WrittenImage w;
    w.result = c.CreateImage(&cb);
    for (const auto& e : fs::directory_iterator(dir))
        w.files[e.path().filename().string()] = LoadFile(e.path().string());
    w.trace = cb.trace;
    w.unreadable = c.GetUnreadableSectorCount();
    w.rawBlocks = c.GetRawBlockCount();
    w.slices = c.GetSlicesOpened();
    return w;
}

}  // namespace

// Blocks compressed on several threads give the same files, byte for byte, and the same
// callbacks in the same order on the calling thread as a run on one thread, for each codec
// and a few levels, with slice limits, new-slice requests, unreadable sectors and a cancel.
TEST(DiskImage, ThreadedWriterMatchesOneThread) {
    std::string dir = testsupport::ScratchDir("image-threads");
    std::vector<std::uint8_t> source = MakeSectors(Fill::Mixed, 24 * 256 + 77);
    // Some blocks of random bytes do not shrink and are stored raw.
    std::vector<std::uint8_t> random = MakeSectors(Fill::Random, 2 * 256, 11);
    std::copy(random.begin(), random.end(), source.begin() + 12 * 256 * 512);
    MemoryDevice dev(source);
    for (std::uint64_t s : {40ull, 1000ull, 1001ull, 24ull * 256 + 70})
        dev.FailSector(s);

    struct Case {
        CompressionType type;
        int level;
        std::int64_t cancelAfter;
    };
    const Case cases[] = {
        {COMPRESSION_NONE, -1, -1},  {COMPRESSION_ZLIB, 1, -1}, {COMPRESSION_ZLIB, 9, 14},
        {COMPRESSION_BZIP2, 1, -1},  {COMPRESSION_LZMA, 1, -1}, {COMPRESSION_LZMA, 6, 7},
        {COMPRESSION_LZMA, -1, -1},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(std::string("type ") + std::to_string(k.type) + " level " +
                     std::to_string(k.level));
        WrittenImage one = WriteWithThreads(dev, dir + "/w", k.type, k.level, 1, k.cancelAfter);
        ASSERT_EQ(one.result, 1);
        EXPECT_GE(one.slices, 2u);
        EXPECT_EQ(one.unreadable, k.cancelAfter >= 0 ? 3u : 4u);
        if (k.type != COMPRESSION_NONE && (k.cancelAfter < 0 || k.cancelAfter >= 12)) {
            EXPECT_GE(one.rawBlocks, 1u);
        }
        for (unsigned threads : {3u, 0u}) {
            WrittenImage many = WriteWithThreads(dev, dir + "/w", k.type, k.level, threads, k.cancelAfter);
            EXPECT_EQ(many.result, one.result);
            EXPECT_EQ(many.trace, one.trace);
            EXPECT_EQ(many.unreadable, one.unreadable);
            EXPECT_EQ(many.rawBlocks, one.rawBlocks);
            EXPECT_EQ(many.slices, one.slices);
            ASSERT_EQ(many.files.size(), one.files.size());
            for (const auto& [name, bytes] : one.files)
                EXPECT_TRUE(many.files[name] == bytes) << name << " differs with " << threads << " threads";
        }
        CImageFileDeviceWithDecompress img((dir + "/w/t.edi").c_str());
        ASSERT_EQ(img.CheckSliceFiles(), 1);
        std::vector<std::uint8_t> back = ReadAll(img, 256);
        std::vector<std::uint8_t> want(source.begin() + 3 * 512, source.end());
        for (std::uint64_t s : {40ull, 1000ull, 1001ull, 24ull * 256 + 70})
            std::memset(want.data() + (s - 3) * 512, 0, 512);
        if (k.cancelAfter >= 0)
            want.resize((k.cancelAfter + 1) * 256 * 512);
        back.resize(want.size());
        EXPECT_TRUE(back == want);
    }
}

// Blocks decoded ahead by the workers are the bytes decoding each block alone gives: sequential
// reads (which use the workers), reads in a shuffled block order and reads without workers all
// agree, including on a block whose stored bytes are damaged (zeros and a failed read each way),
// and a device closed while its workers are busy closes cleanly.
TEST(DiskImage, ReadAheadGivesTheBytesOfRandomReads) {
    std::string dir = testsupport::ScratchDir("image-readahead");
    constexpr std::uint64_t kBlocks = 40;
    std::vector<std::uint8_t> source = MakeSectors(Fill::Mixed, kBlocks * 256 - 100, 3);
    MemoryDevice dev(source);
    ImageJob job;
    job.type = COMPRESSION_ZLIB;
    job.level = 1;
    std::string path = dir + "/a.edi";
    ASSERT_EQ(WriteImage(dev, path, job), 1);
    // Damage block 16's stream in the middle (the bytes between index entries 16 and 17).
    const std::uint64_t start = IndexEntry(path, 16), end = IndexEntry(path, 17);
    ASSERT_GT(end, start + 64);
    {
        std::vector<std::uint8_t> slice = LoadFile(ImageSlicePath(path, 0));
        for (std::uint64_t i = start + 16; i < start + 48; ++i)
            slice[i] ^= 0x5A;
        ASSERT_TRUE(WriteFileBytes(ImageSlicePath(path, 0), slice));
    }
    const std::uint64_t sectors = source.size() / 512;

    // Per block: the bytes and the result of reading it.
    using Reading = std::pair<std::vector<std::uint8_t>, int>;
    auto readBlocks = [&](CImageFileDeviceWithDecompress& img, const std::vector<std::uint64_t>& order) {
        std::vector<Reading> out(kBlocks);
        for (std::uint64_t b : order) {
            const std::uint64_t first = b * 256, n = std::min<std::uint64_t>(256, sectors - first);
            out[b].first.assign(n * 512, 0xEE);
            out[b].second = img.ReadSectors(out[b].first.data(), first, n);
        }
        return out;
    };
    std::vector<std::uint64_t> inOrder(kBlocks);
    for (std::uint64_t b = 0; b < kBlocks; ++b)
        inOrder[b] = b;
    std::vector<std::uint64_t> shuffled = inOrder;
    std::mt19937 random(11);
    std::shuffle(shuffled.begin(), shuffled.end(), random);

    CImageFileDeviceWithDecompress ahead(path.c_str());
    ahead.SetReadAheadWorkers(3);
    ASSERT_EQ(ahead.CheckSliceFiles(), 1);
    const std::vector<Reading> sequential = readBlocks(ahead, inOrder);
    // The workers took part; how many blocks they were first to depends on the machine's load.
    EXPECT_GT(ahead.GetBlocksDecodedAhead(), 0u);
    CImageFileDeviceWithDecompress alone(path.c_str());
    alone.SetReadAheadWorkers(0);
    const std::vector<Reading> shuffledReads = readBlocks(alone, shuffled);
    EXPECT_EQ(alone.GetBlocksDecodedAhead(), 0u);
    CImageFileDeviceWithDecompress mixed(path.c_str());
    mixed.SetReadAheadWorkers(2);
    std::vector<std::uint64_t> runs; // runs in order, jumping about between them
    for (std::uint64_t b : {30, 31, 32, 33, 5, 6, 7, 8, 9, 10, 0, 1, 2, 3, 4, 15, 16, 17, 18, 19, 20, 21, 22, 23,
                            24, 25, 26, 27, 28, 29, 11, 12, 13, 14, 34, 35, 36, 37, 38, 39})
        runs.push_back(b);
    const std::vector<Reading> jumping = readBlocks(mixed, runs);
    for (std::uint64_t b = 0; b < kBlocks; ++b) {
        SCOPED_TRACE(b);
        const bool damaged = b == 16;
        EXPECT_EQ(sequential[b].second, damaged ? 0 : 1);
        EXPECT_EQ(sequential[b], shuffledReads[b]);
        EXPECT_EQ(sequential[b], jumping[b]);
        const std::uint64_t first = b * 256;
        if (!damaged)
            EXPECT_TRUE(std::equal(sequential[b].first.begin(), sequential[b].first.end(), source.begin() + first * 512));
        else
            EXPECT_EQ(sequential[b].first, std::vector<std::uint8_t>(256 * 512, 0));
    }
    // Whole-device reads in chunks that straddle blocks.
    for (std::uint64_t chunk : {1u, 100u, 300u}) {
        CImageFileDeviceWithDecompress img(path.c_str());
        std::vector<std::uint8_t> all(sectors * 512);
        for (std::uint64_t s = 0; s < sectors; s += chunk)
            img.ReadSectors(all.data() + s * 512, s, std::min(chunk, sectors - s));
        std::vector<std::uint8_t> want = source;
        std::fill(want.begin() + 16 * 256 * 512, want.begin() + 17 * 256 * 512, 0);
        EXPECT_EQ(all, want) << chunk;
    }
    // Closed in the middle of a sequential run, with blocks queued and being decoded.
    for (int i = 0; i < 5; ++i) {
        CImageFileDeviceWithDecompress img(path.c_str());
        std::vector<std::uint8_t> buf(256 * 512);
        for (std::uint64_t b = 0; b < 3 + static_cast<std::uint64_t>(i); ++b)
            img.ReadSectors(buf.data(), b * 256, 256);
    }
}

// After an administrator start (as root for nobody) an image written into a folder of the
// desktop user's is theirs, every slice and list of it; into root's own folder it stays root's.
TEST(DiskImage, ImageFilesBelongToTheOwnerOfTheirFolder) {
    const std::string why = testsupport::AdministratorStartUnavailable();
    if (!why.empty())
        GTEST_SKIP() << why;
    std::vector<std::uint8_t> source = MakeSectors(Fill::Tagged, 4 * 256);
    for (const uid_t owner : {testsupport::kNobodyUid, uid_t(0)}) {
        SCOPED_TRACE(owner);
        testsupport::OpenTempFolder folder(owner);
        ASSERT_FALSE(folder.Path().empty());
        MemoryDevice dev(source);
        RecordingCallBack cb;
        cb.newSliceAlways = true;
        const std::string path = folder.Path() + "/owned.edi";
        {
            testsupport::AdministratorStart start;
            ASSERT_EQ(WriteImage(dev, path, ImageJob{}, &cb), 1);
        }
        std::size_t files = 0;
        for (const auto& entry : fs::directory_iterator(folder.Path())) {
            ++files;
            EXPECT_EQ(testsupport::OwnerOf(entry.path().string()), static_cast<long>(owner)) << entry.path();
        }
        EXPECT_GE(files, 3u); // the image, its slice list and slices
        CImageFileDeviceWithDecompress img(path.c_str());
        ASSERT_EQ(img.CheckSliceFiles(), 1);
        EXPECT_EQ(ReadAll(img, 300), source);
    }
}

// Nobody plants links at the names an image will have (they are known before it is made) to files
// of root's: the image is refused, and the files the links name stay as they were, root's.
TEST(DiskImage, LinksPlantedAtAnImagesNamesReachNothing) {
    const std::string why = testsupport::AdministratorStartUnavailable();
    if (!why.empty())
        GTEST_SKIP() << why;
    testsupport::OpenTempFolder theirs(testsupport::kNobodyUid);
    testsupport::OpenTempFolder roots(0);
    ASSERT_FALSE(theirs.Path().empty());
    ASSERT_FALSE(roots.Path().empty());
    const std::string path = theirs.Path() + "/planted.edi";
    const std::vector<std::string> names = {path, ImageSliceListPath(path), ImageSlicePath(path, 1),
                                            ImageSlicePath(path, 2)};
    for (std::size_t planted = 0; planted < names.size(); ++planted) {
        SCOPED_TRACE(names[planted]);
        for (const auto& entry : fs::directory_iterator(theirs.Path()))
            fs::remove(entry.path());
        const std::string victim = roots.Path() + "/victim" + std::to_string(planted);
        ASSERT_TRUE(WriteFileBytes(victim, std::vector<std::uint8_t>(100, 0x5A)));
        ASSERT_EQ(::chmod(victim.c_str(), 0600), 0);
        ASSERT_EQ(testsupport::RunAsUser(testsupport::kNobodyUid,
                                         [&] { return ::symlink(victim.c_str(), names[planted].c_str()) == 0 ? 0 : 1; }),
                  0);
        MemoryDevice dev(MakeSectors(Fill::Tagged, 4 * 256));
        RecordingCallBack cb;
        cb.newSliceAlways = true;
        {
            testsupport::AdministratorStart start;
            EXPECT_NE(WriteImage(dev, path, ImageJob{}, &cb), 1);
        }
        struct stat st {};
        ASSERT_EQ(::stat(victim.c_str(), &st), 0);
        EXPECT_EQ(st.st_uid, 0u);
        EXPECT_EQ(st.st_size, 100);
        EXPECT_EQ(testsupport::ReadFileBytes(victim), std::vector<std::uint8_t>(100, 0x5A));
        // What was made before the planted name is nobody's.
        for (const auto& entry : fs::directory_iterator(theirs.Path()))
            EXPECT_EQ(testsupport::OwnerOf(entry.path().string()), static_cast<long>(testsupport::kNobodyUid))
                << entry.path();
    }
}
