#include "recovery/EfsRawStream.h"
#include "tests/recovery/RecordingRecoverCallback.h"
#include "tests/support/FixtureKit.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using testsupport::ReadFileBytes;
using testsupport::WriteFileBytes;

namespace {

Bytes Utf16(const char* s) {
    Bytes b;
    for (; *s; ++s) {
        b.push_back(static_cast<std::uint8_t>(*s));
        b.push_back(0);
    }
    return b;
}

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes Zeros(std::size_t n) { return Bytes(n, 0); }

// The intermediate the data copy leaves in a target: header, $EFS stream, encrypted data.
Bytes Intermediate(const Bytes& efs, const Bytes& data) {
    const auto header = BuildEfsFileHeader(static_cast<std::uint32_t>(efs.size()));
    return Cat({Bytes(header.begin(), header.end()), efs, data});
}

} // namespace

// The raw stream of a file of 1000 bytes (1024 encrypted bytes) with an 8-byte $EFS stream,
// written out byte by byte.
TEST(EfsRawStream, GoldenBytes) {
    const Bytes efs = {'E', 'F', 'S', 'D', 'A', 'T', 'A', '!'};
    const Bytes data = testsupport::PatternBytes(1024, 11);
    const Bytes fileHeader = Cat({{0x00, 0x01, 0x00, 0x00}, Utf16("ROBS"), Zeros(8), {0x1E, 0, 0, 0},
                                  Utf16("NTFS"), Zeros(12), {0x02, 0, 0, 0}, {0x10, 0x19},
                                  {0x18, 0, 0, 0}, Utf16("GURE"), Zeros(4)});
    const Bytes streamHeader =
        Cat({{0x2A, 0, 0, 0}, Utf16("NTFS"), Zeros(12), {0x0E, 0, 0, 0}, Utf16("::$DATA")});
    const Bytes blockHeader =
        Cat({{0x00, 0x06, 0, 0}, Utf16("GURE"), Zeros(4), {0, 0}, {0, 0}, Zeros(4),
             {0xF0, 0x01, 0, 0}, {0xE8, 0x03, 0, 0}, {0xE8, 0x03, 0, 0}, {0x00, 0x00, 0x10, 0x10},
             {0x0B, 0x01, 0x01, 0x00}, {0x00, 0x04, 0, 0}, Zeros(464)});
    ASSERT_EQ(fileHeader.size(), kEfsFileHeaderSize);
    ASSERT_EQ(streamHeader.size(), kEfsStreamHeaderSize);
    ASSERT_EQ(blockHeader.size(), kEfsBlockHeaderSize);

    const std::string dir = testsupport::ScratchDir("efs");
    const std::string target = dir + "/secret.doc";
    ASSERT_TRUE(WriteFileBytes(target, Intermediate(efs, data)));
    EXPECT_EQ(ReadFileBytes(target), Cat({fileHeader, efs, data}));
    std::string efsPath;
    ASSERT_EQ(RestoreEfsFile(target, nullptr, 1000, efsPath), 0);
    EXPECT_EQ(efsPath, target + ".EFS");
    EXPECT_EQ(ReadFileBytes(efsPath), Cat({fileHeader, efs, streamHeader, blockHeader, data}));
}

TEST(EfsRawStream, BlocksOfSixtyFourKiB) {
    const Bytes efs(300, 0x5A);
    const Bytes data = testsupport::PatternBytes(70144, 12); // 70000 bytes rounded to sectors
    const std::string dir = testsupport::ScratchDir("efs");
    const std::string target = dir + "/big";
    ASSERT_TRUE(WriteFileBytes(target, Intermediate(efs, data)));
    ASSERT_TRUE(WriteFileBytes(target + ".EFS", {'m', 'i', 'n', 'e'})); // not ours: kept
    std::string efsPath;
    testsupport::RecordingRecoverCallback callback;
    ASSERT_EQ(RestoreEfsFile(target, &callback, 70000, efsPath), 0);
    EXPECT_EQ(efsPath, dir + "/big_000.EFS");
    EXPECT_EQ(ReadFileBytes(target + ".EFS"), Bytes({'m', 'i', 'n', 'e'}));
    const Bytes out = ReadFileBytes(efsPath);
    const std::size_t first = kEfsFileHeaderSize + efs.size() + kEfsStreamHeaderSize;
    const std::size_t second = first + kEfsBlockHeaderSize + 65536;
    ASSERT_EQ(out.size(), second + kEfsBlockHeaderSize + (70144 - 65536));
    const auto h0 = BuildEfsDataBlockHeader(0, 65536, 70000);
    const auto h1 = BuildEfsDataBlockHeader(1, 70144 - 65536, 70000 - 65536);
    EXPECT_TRUE(std::equal(h0.begin(), h0.end(), out.begin() + first));
    EXPECT_TRUE(std::equal(h1.begin(), h1.end(), out.begin() + second));
    EXPECT_EQ(h1[18], 1);
    EXPECT_EQ(h1[28] | (h1[29] << 8), 4464);
    EXPECT_EQ(h1[44] | (h1[45] << 8), 4608);
    EXPECT_TRUE(std::equal(data.begin(), data.begin() + 65536, out.begin() + first + 512));
    EXPECT_TRUE(std::equal(data.begin() + 65536, data.end(), out.begin() + second + 512));
    EXPECT_GE(callback.polls, 2);
}

// A cancel, a damaged intermediate and a missing target fail and leave no stream file.
TEST(EfsRawStream, FailuresLeaveNoStream) {
    const std::string dir = testsupport::ScratchDir("efs");
    const std::string target = dir + "/f";
    std::string efsPath;

    ASSERT_TRUE(WriteFileBytes(target, Intermediate(Bytes(16, 1), Bytes(512, 2))));
    testsupport::RecordingRecoverCallback cancel;
    cancel.cancelNow = true;
    EXPECT_EQ(RestoreEfsFile(target, &cancel, 500, efsPath), 2);
    EXPECT_FALSE(fs::exists(efsPath));

    Bytes damaged = Intermediate(Bytes(16, 1), Bytes(512, 2));
    damaged[50] = 0xFF; // $EFS length far beyond the file
    damaged[52] = 0x7F;
    ASSERT_TRUE(WriteFileBytes(target, damaged));
    EXPECT_EQ(RestoreEfsFile(target, nullptr, 500, efsPath), 1);
    EXPECT_FALSE(fs::exists(efsPath));

    ASSERT_TRUE(WriteFileBytes(target, Bytes(10, 0)));
    EXPECT_EQ(RestoreEfsFile(target, nullptr, 500, efsPath), 1);
    EXPECT_FALSE(fs::exists(efsPath));

    EXPECT_EQ(RestoreEfsFile(dir + "/missing", nullptr, 500, efsPath), 1);
    std::size_t entries = 0;
    for (auto& e : fs::directory_iterator(dir)) {
        EXPECT_EQ(e.path().filename(), "f");
        ++entries;
    }
    EXPECT_EQ(entries, 1u);
}
