// The EXT2/EXT3 reader on images made by mke2fs and debugfs: superblock checks and repair,
// group-descriptor tables (with a damaged primary table), inodes, block maps and directory
// entries compared with debugfs's own listing, and name decoding.
#include "filesystems/ext2/Ext2FileSystem.h"
#include "logging/Log.h"
#include "tests/support/Ext2Images.h"
#include "tests/support/FatImages.h"
#include "tests/support/FixtureKit.h"
#include "tests/support/MemoryDevice.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <stdexcept>

using namespace testsupport;

namespace {

// A small ext2 volume: 1 KiB blocks, 128-byte inodes, two block groups, a folder with files.
std::string ReaderImage() {
    return CachedFixture("ext2-reader-v1.img", [](const std::string& tmp) {
        if (!RequireExt2Tools())
            return false;
        Ext2ImageOptions o;
        o.sizeKiB = 12 * 1024;
        o.label = "reader";
        if (!Ext2Image::Format(tmp, o))
            return false;
        Ext2Image img(tmp);
        bool ok = img.MakeDir("/Folder");
        ok = ok && img.WriteBytes("/Folder/one.bin", PatternBytes(3000, 1));
        ok = ok && img.WriteBytes("/Folder/two.bin", PatternBytes(300 * 1024, 2));
        ok = ok && img.WriteBytes("/top.txt", PatternBytes(10, 3));
        return ok;
    });
}

void Put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

} // namespace

TEST(Ext2SuperBlock, ChecksAndRepairs) {
    const std::string path = ReaderImage();
    ASSERT_FALSE(path.empty());
    const std::vector<std::uint8_t> image = LoadImageBytes(path);
    const std::vector<std::uint8_t> good(image.begin() + 1024, image.begin() + 2048);

    Ext2SuperBlockSummary summary;
    ASSERT_TRUE(CheckExt2SuperBlock(ByteSpan(good.data(), good.size()), &summary));
    EXPECT_EQ(summary.blockSize, 1024u);
    EXPECT_EQ(summary.blockCount, 12u * 1024);
    EXPECT_EQ(summary.label, "reader");
    EXPECT_FALSE(summary.journal);
    EXPECT_FALSE(CheckExt2SuperBlock(ByteSpan(good.data(), 1023)));

    struct Case {
        const char* what;
        std::size_t offset;
        std::uint32_t value;
        int width;
        bool valid;
    };
    CExt2SuperBlock sb(good.data(), good.size());
    sb.Normalise();
    const std::uint32_t groups = sb.GroupCount();
    const Case cases[] = {
        {"bad magic", ext2::SB_MAGIC, 0xEF52, 2, false},
        {"64 KiB blocks: more groups than the blocks need", ext2::SB_LOG_BLOCK_SIZE, 6, 4, false},
        {"block size 128 KiB", ext2::SB_LOG_BLOCK_SIZE, 7, 4, false},
        {"no blocks per group", ext2::SB_BLOCKS_PER_GROUP, 0, 4, false},
        {"more blocks per group than a bitmap holds", ext2::SB_BLOCKS_PER_GROUP, 8193, 4, false},
        {"more inodes per group than a bitmap holds", ext2::SB_INODES_PER_GROUP, 8193, 4, false},
        {"group number equal to the group count", ext2::SB_GROUP_NUMBER, groups, 2, true},
        {"group number past the group count", ext2::SB_GROUP_NUMBER, groups + 1, 2, false},
        {"inode size not a power of two", ext2::SB_INODE_SIZE, 200, 2, false},
        {"inode size larger than a block", ext2::SB_INODE_SIZE, 2048, 2, false},
        {"stored first data block ignored", ext2::SB_FIRST_DATA_BLOCK, 7, 4, true},
        {"inode count repaired from the geometry", ext2::SB_INODE_COUNT, 5, 4, true},
        {"too many groups for the blocks", ext2::SB_BLOCKS_PER_GROUP, 1024, 4, false},
    };
    for (const Case& c : cases) {
        std::vector<std::uint8_t> b = good;
        if (c.width == 2) {
            b[c.offset] = static_cast<std::uint8_t>(c.value);
            b[c.offset + 1] = static_cast<std::uint8_t>(c.value >> 8);
        } else {
            Put32(b, c.offset, c.value);
        }
        EXPECT_EQ(CheckExt2SuperBlock(ByteSpan(b.data(), b.size())), c.valid) << c.what;
    }

    // Revision 0: 128-byte inodes and first inode 11 whatever the fields hold.
    std::vector<std::uint8_t> old = good;
    Put32(old, ext2::SB_REVISION, 0);
    old[ext2::SB_INODE_SIZE] = 0;
    Put32(old, ext2::SB_FIRST_INODE, 0);
    CExt2SuperBlock rev0(old.data(), old.size());
    rev0.Normalise();
    EXPECT_EQ(rev0.InodeSize(), 128u);
    EXPECT_EQ(rev0.FirstInode(), 11u);
    EXPECT_TRUE(IsValidExt2SuperBlock(rev0));
}

TEST(Ext2FileSystem, DirectoriesAndBlocksMatchDebugfs) {
    const std::string path = ReaderImage();
    ASSERT_FALSE(path.empty());
    MemoryDevice device(LoadImageBytes(path));
    CExt2FileSystem fs(&device, 2);
    EXPECT_EQ(fs.GetPrimarySuperBlockSector(), 2u);
    EXPECT_EQ(fs.GroupCount(), 2u);
    EXPECT_EQ(fs.FirstWalkInode(), 11u);

    Ext2Image img(path);
    std::map<std::string, std::uint32_t> expected;
    for (const Ext2ListEntry& e : img.List("/Folder"))
        expected[e.name] = e.inode;
    ASSERT_EQ(expected.size(), 4u); // . .. one.bin two.bin

    const std::uint32_t folder = img.Stat("/Folder").inode;
    CExt2Inode dir(&fs);
    dir.Load(folder);
    ASSERT_TRUE(dir.IsDirectory());
    std::map<std::string, std::uint32_t> seen;
    for (CExt2DirEntry e(&dir); !e.AtEnd(); e.Advance()) {
        CExt2Inode child = e.GetInode();
        if (child.m_number)
            seen[child.m_name] = child.m_number;
    }
    EXPECT_EQ(seen, expected);

    // A file with single- and double-indirect blocks reads back whole through the block map.
    CExt2Inode two(&fs);
    two.Load(expected["two.bin"]);
    EXPECT_EQ(two.GetFileSize(), 300u * 1024);
    ASSERT_EQ(two.GetBlockCount(), 300u);
    CExt2BlockIterator blocks(&two);
    std::vector<std::uint8_t> data;
    std::vector<std::uint8_t> block(1024);
    for (std::uint64_t i = 0; i < two.GetBlockCount(); ++i) {
        const std::uint32_t b = blocks.MapBlock(i);
        ASSERT_NE(b, 0u) << i;
        fs.ReadBlocks(block.data(), b, 1);
        data.insert(data.end(), block.begin(), block.end());
    }
    data.resize(300 * 1024);
    EXPECT_EQ(data, img.Dump("/Folder/two.bin"));

    // The walk hands out every inode up to the inode count, with the files among them.
    std::uint32_t files = 0;
    for (CExt2InodeIterator it(&fs); !it.AtEnd(); it.Next()) {
        CExt2Inode inode;
        it.Get(inode);
        files += inode.IsRegular() ? 1 : 0;
    }
    EXPECT_EQ(files, 3u);

    EXPECT_THROW(fs.ReadBlocks(block.data(), fs.BlockCount() + 100, 1), std::range_error);
}

TEST(Ext2FileSystem, DamagedStructures) {
    const std::string path = ReaderImage();
    ASSERT_FALSE(path.empty());
    const std::vector<std::uint8_t> image = LoadImageBytes(path);

    // Group 0's table is garbage: the backup in group 1 is used.
    {
        std::vector<std::uint8_t> bytes = image;
        for (std::size_t i = 2048; i < 2048 + 64; ++i)
            bytes[i] = 0xFF;
        MemoryDevice device(bytes);
        CExt2FileSystem fs(&device, 2);
        // The backup's bitmap and table words are group 0's (its free counts may be older).
        ASSERT_EQ(fs.GroupTable().size(), 64u);
        for (std::size_t g = 0; g < 2; ++g)
            EXPECT_TRUE(std::equal(fs.GroupTable().begin() + 32 * g, fs.GroupTable().begin() + 32 * g + 12,
                                   image.begin() + 2048 + 32 * g));
        // No table anywhere.
        for (std::size_t i = 8193 * 1024 + 1024; i < 8193 * 1024 + 1024 + 64; ++i)
            bytes[i] = 0xFF;
        MemoryDevice none(bytes);
        EXPECT_THROW(CExt2FileSystem(&none, 2), CExt2BadGroupDescriptor);
    }
    // A device that ends before the file system does opens while it holds the descriptor
    // table; what lies past its end is not there to read. One that ends before the table does
    // not open. An unreadable superblock, a zeroed superblock.
    {
        MemoryDevice shorter(std::vector<std::uint8_t>(image.begin(), image.end() - 4096));
        CExt2FileSystem cut(&shorter, 2);
        EXPECT_EQ(cut.BlocksOnDevice(), cut.BlockCount() - 4u);
        std::vector<std::uint8_t> block(1024);
        EXPECT_NO_THROW(cut.ReadBlocks(block.data(), cut.BlockCount() - 5, 1));
        EXPECT_THROW(cut.ReadBlocks(block.data(), cut.BlockCount() - 4, 1), std::range_error);
        MemoryDevice tableless(std::vector<std::uint8_t>(image.begin(), image.begin() + 2048));
        EXPECT_THROW(CExt2FileSystem(&tableless, 2), CExt2BadGroupDescriptor);
        MemoryDevice failing(image);
        failing.FailSector(3);
        EXPECT_THROW(CExt2FileSystem(&failing, 2), CExt2ReadSectorError);
        std::vector<std::uint8_t> bytes = image;
        std::fill(bytes.begin() + 1024, bytes.begin() + 2048, 0);
        MemoryDevice zeroed(bytes);
        EXPECT_THROW(CExt2FileSystem(&zeroed, 2), CExt2BadSuperBlock);
        // The backup copy in group 1 still opens the file system, at the right start.
        CExt2FileSystem backup(&zeroed, 8193 * 2);
        EXPECT_EQ(backup.GetPrimarySuperBlockSector(), 2u);
    }
}

TEST(Ext2Names, StrictUtf8WithEscapes) {
    struct Case {
        std::vector<std::uint8_t> bytes;
        std::string text;
    };
    const Case cases[] = {
        {{'a', 'b', 'c'}, "abc"},
        {{0xC3, 0xA9, 't', 0xC3, 0xA9}, "\xC3\xA9t\xC3\xA9"},
        {{0xC0, 0xAF}, "%C0%AF"},             // overlong '/'
        {{'a', '/', 'b', 0}, "a%2Fb%00"},      // never a path separator or a terminator
        {{0xED, 0xA0, 0x80}, "%ED%A0%80"},     // a surrogate
        {{0xF4, 0x90, 0x80, 0x80}, "%F4%90%80%80"}, // above U+10FFFF
        {{0xF0, 0x9F, 0x98, 0x80}, "\xF0\x9F\x98\x80"},
        {{'x', 0xE2, 0x82}, "x%E2%82"},        // cut short
        {{0x80, 'y'}, "%80y"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(DecodeExt2Name(c.bytes.data(), c.bytes.size()), c.text);
}

TEST(Ext2ErrorLog, WrittenBesideTheActivityLog) {
    const std::string folder = ScratchDir("ext2-error-log");
    InitLog((folder + "/BrulinLog.log").c_str(), LOGLEVEL_INFO, LOGTYPE_FILE);
    EXPECT_EQ(GetExt2ErrorLogPath(), folder + "/Ext2Error.log");
    WriteExt2ErrorLog(nullptr);
    LogExt2Exception(CExt2BadSuperBlock());
    LogExt2Exception(std::range_error("CExt2FileSystem::ReadBlocks"));
    const std::vector<std::uint8_t> bytes = ReadFileBytes(folder + "/Ext2Error.log");
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()),
              "class CExt2BadSuperBlock\r\nstd::exception\r\n"
              "class std::range_error\r\nCExt2FileSystem::ReadBlocks\r\n");
}

// The image helpers name host files inside debugfs requests: a folder whose name holds blanks and
// a double quote (as a checkout's path may) still gets the bytes in and out.
TEST(Ext2ImageHelpers, HostFilesInAFolderWithBlanks) {
    if (!RequireExt2Tools())
        return;
    const std::string folder = ScratchDir("ext2-host-folder") + "/a b \"c\" $d";
    std::filesystem::create_directories(folder);
    const std::string image = folder + "/volume.img";
    Ext2ImageOptions o;
    o.sizeKiB = 2048;
    ASSERT_TRUE(Ext2Image::Format(image, o));
    Ext2Image img(image);
    const std::vector<std::uint8_t> bytes = PatternBytes(5000, 7);
    ASSERT_TRUE(img.WriteBytes("/in.bin", bytes));
    EXPECT_EQ(img.Stat("/in.bin").size, bytes.size());
    EXPECT_EQ(img.Dump("/in.bin"), bytes);
    const std::string host = folder + "/host file.bin";
    ASSERT_TRUE(WriteFileBytes(host, PatternBytes(300, 8)));
    ASSERT_TRUE(img.Write(host, "/host.bin"));
    EXPECT_EQ(img.Dump("/host.bin"), PatternBytes(300, 8));
}
