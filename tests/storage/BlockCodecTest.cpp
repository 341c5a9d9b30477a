#include "storage/BlockCodec.h"

#include "tests/storage/ImageTestData.h"
#include "tests/support/FixtureKit.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using namespace imagetest;
using testsupport::MustRun;
using testsupport::ShellQuote;
using testsupport::WriteFileBytes;

namespace {

struct CodecCase {
    CompressionType type;
    int level;
};

const CodecCase kCodecs[] = {
    {COMPRESSION_BZIP2, -1}, {COMPRESSION_BZIP2, 1}, {COMPRESSION_BZIP2, 9}, {COMPRESSION_ZLIB, -1}, {COMPRESSION_ZLIB, 1},
    {COMPRESSION_ZLIB, 5},  {COMPRESSION_ZLIB, 9},  {COMPRESSION_LZMA, 5},
};

std::vector<std::uint8_t> Compress(CompressionType type, int level, const std::vector<std::uint8_t>& in,
                                   std::uint32_t capacity = kImageStoredBlockCapacity) {
    std::unique_ptr<ICompressor> c(CreateCompressor(type));
    std::vector<std::uint8_t> out(capacity);
    std::uint32_t n = CompressWithCodec(c.get(), level, 8u << 20, in.data(),
                                        static_cast<std::uint32_t>(in.size()), out.data(), capacity);
    out.resize(n);
    return out;
}

bool Decompress(CompressionType type, const std::vector<std::uint8_t>& stored,
                std::vector<std::uint8_t>* out) {
    std::unique_ptr<IDecompressor> d(CreateImageDecompressor(type));
    out->assign(kImageBlockBytes, 0xEE);
    std::uint32_t produced = 0;
    bool ok = DecompressWithCodec(d.get(), stored.data(), static_cast<std::uint32_t>(stored.size()),
                                  out->data(), kImageBlockBytes, &produced);
    out->resize(produced);
    return ok;
}

}  // namespace

// Every codec and level over every kind of block: the stream either completes within the
// output space and decodes (here and with Python's own modules) to the input, or the codec
// reports 0 and the caller stores the block raw.
TEST(BlockCodec, RoundTripsEveryCodecAndIndependentDecoderAgrees) {
    std::string dir = testsupport::ScratchDir("codec-roundtrip");
    std::string list;
    int streams = 0;
    for (const CodecCase& cc : kCodecs) {
        for (Fill fill : {Fill::Tagged, Fill::Zero, Fill::Text, Fill::Random, Fill::Mixed}) {
            SCOPED_TRACE(std::string("type ") + std::to_string(cc.type) + " level " +
                         std::to_string(cc.level) + " " + FillName(fill));
            // Full blocks and a short last block (232 sectors).
            for (std::uint32_t sectors : {256u, 232u}) {
                std::vector<std::uint8_t> in = MakeSectors(fill, sectors, 11);
                std::vector<std::uint8_t> stored = Compress(cc.type, cc.level, in);
                if (stored.empty()) {
                    // Only incompressible data may fail to fit.
                    EXPECT_EQ(fill, Fill::Random);
                    continue;
                }
                EXPECT_LE(stored.size(), kImageStoredBlockCapacity);
                std::vector<std::uint8_t> out;
                ASSERT_TRUE(Decompress(cc.type, stored, &out));
                EXPECT_EQ(out, in);
                std::string base = dir + "/s" + std::to_string(streams++);
                ASSERT_TRUE(WriteFileBytes(base + ".in", stored));
                ASSERT_TRUE(WriteFileBytes(base + ".want", in));
                list += std::to_string(cc.type) + "\t" + base + ".in\t" + base + ".want\n";
            }
        }
    }
    ASSERT_GT(streams, 50);
    std::string listPath = dir + "/streams.txt";
    ASSERT_TRUE(WriteFileBytes(listPath, std::vector<std::uint8_t>(list.begin(), list.end())));
    std::string output;
    MustRun("python3 " + ShellQuote(DecodeScript()) + " streams " + ShellQuote(listPath), &output);
    EXPECT_NE(output.find("streams=" + std::to_string(streams)), std::string::npos) << output;
}

TEST(BlockCodec, StreamThatDoesNotFitIsNeverStoredTruncated) {
    std::vector<std::uint8_t> text = MakeSectors(Fill::Text, 256);
    std::vector<std::uint8_t> random = MakeSectors(Fill::Random, 256);
    for (const CodecCase& cc : kCodecs) {
        SCOPED_TRACE(cc.type);
        EXPECT_TRUE(Compress(cc.type, cc.level, text, 64).empty());
        EXPECT_TRUE(Compress(cc.type, cc.level, random, 4096).empty());
        EXPECT_TRUE(Compress(cc.type, cc.level, text, 0).empty());
    }
    // A failing Init also means "store raw".
    std::unique_ptr<ICompressor> bz(CreateCompressor(COMPRESSION_BZIP2));
    std::vector<std::uint8_t> out(kImageStoredBlockCapacity);
    EXPECT_EQ(CompressWithCodec(bz.get(), 0, 0, text.data(), 131072, out.data(), 131334), 0u);
    EXPECT_EQ(CompressWithCodec(nullptr, 5, 0, text.data(), 131072, out.data(), 131334), 0u);
}

TEST(BlockCodec, FactoriesPickByType) {
    struct Row {
        std::uint32_t type;
        const char* compressor;  // null: none
        bool decompressor;
    } rows[] = {{0, nullptr, false}, {1, "bzip2", true}, {2, "zlib", true},
                {3, "lzma", true},  {4, nullptr, false}, {7, nullptr, false}};
    for (const Row& r : rows) {
        SCOPED_TRACE(r.type);
        std::unique_ptr<ICompressor> c(CreateCompressor(static_cast<CompressionType>(r.type)));
        if (r.compressor) {
            ASSERT_TRUE(c);
            EXPECT_STREQ(c->GetName(), r.compressor);
        } else {
            EXPECT_FALSE(c);
        }
        std::unique_ptr<IDecompressor> d(CreateImageDecompressor(static_cast<CompressionType>(r.type)));
        EXPECT_EQ(d != nullptr, r.decompressor);
    }
    std::unique_ptr<IDecompressor> d1(CreateImageDecompressor(COMPRESSION_BZIP2));
    std::unique_ptr<IDecompressor> d3(CreateImageDecompressor(COMPRESSION_LZMA));
    EXPECT_TRUE(dynamic_cast<cbzip2decompressor*>(d1.get()));
    EXPECT_TRUE(dynamic_cast<clzmadecompressor*>(d3.get()));
    std::unique_ptr<ICompressor> zc(CreateZlibCompressor());
    std::unique_ptr<IDecompressor> zd(CreateZlibDecompressor());
    EXPECT_STREQ(zc->GetName(), "zlib");
    EXPECT_TRUE(dynamic_cast<czlibdecompressor*>(zd.get()));
}

TEST(BlockCodec, ErrorTexts) {
    std::unique_ptr<ICompressor> bz(CreateCompressor(COMPRESSION_BZIP2));
    std::unique_ptr<ICompressor> z(CreateCompressor(COMPRESSION_ZLIB));
    std::unique_ptr<ICompressor> lz(CreateCompressor(COMPRESSION_LZMA));
    EXPECT_STREQ(bz->GetErrorText(-1), "sequence error - bad call");
    EXPECT_STREQ(bz->GetErrorText(-9), "config error");
    EXPECT_STREQ(bz->GetErrorText(-4), "unknown error");
    EXPECT_STREQ(z->GetErrorText(-5), "buffer error - bad call");
    EXPECT_STREQ(z->GetErrorText(-6), "version error");
    EXPECT_STREQ(z->GetErrorText(-1), "unknown error");
    EXPECT_STREQ(lz->GetErrorText(-3), "thread synchronization error");
    EXPECT_STREQ(lz->GetErrorText(-5), "not enough memory");
    EXPECT_STREQ(lz->GetErrorText(1), "unknown error");
}

// The step-by-step results the calling order relies on.
TEST(BlockCodec, CompressorCallResults) {
    std::vector<std::uint8_t> in = MakeSectors(Fill::Text, 16);
    std::vector<std::uint8_t> out(kImageStoredBlockCapacity);

    CBzip2Compressor bz;
    ASSERT_EQ(bz.Init(9, 0), 0);
    bz.SetInput(in.data(), static_cast<std::uint32_t>(in.size()));
    bz.SetOutput(out.data(), static_cast<std::uint32_t>(out.size()));
    EXPECT_EQ(bz.Compress(false), 0);
    EXPECT_EQ(bz.Compress(true), 0);  // ends the stream
    EXPECT_EQ(bz.Compress(true), 1);  // and says so on the next call
    EXPECT_EQ(bz.End(), 0);
    EXPECT_EQ(bz.Init(10, 0), -2);  // block size outside 1..9

    CZlibCompressor z;
    EXPECT_EQ(z.Init(12, 0), -2);
    ASSERT_EQ(z.Init(5, 0), 0);
    z.SetInput(in.data(), static_cast<std::uint32_t>(in.size()));
    z.SetOutput(out.data(), static_cast<std::uint32_t>(out.size()));
    EXPECT_EQ(z.Compress(false), 0);
    EXPECT_EQ(z.Compress(true), 1);
    z.End();

    CLZMACompressor lz;
    EXPECT_EQ(lz.Compress(false), -1);  // no stream
    ASSERT_EQ(lz.Init(5, 8u << 20), 0);
    lz.SetInput(in.data(), static_cast<std::uint32_t>(in.size()));
    lz.SetOutput(out.data(), static_cast<std::uint32_t>(out.size()));
    EXPECT_EQ(lz.Compress(false), 0);
    EXPECT_EQ(lz.GetInputLeft(), 0u);
    EXPECT_EQ(lz.Compress(true), 1);
    EXPECT_EQ(lz.Compress(false), -1);  // after completion: bad call
    EXPECT_EQ(lz.Compress(true), 0);
    // The stored properties give the dictionary actually used: one block, not 8 MiB.
    std::uint32_t dict = out[1] | out[2] << 8 | out[3] << 16 | std::uint32_t(out[4]) << 24;
    EXPECT_EQ(dict, kImageBlockBytes);
    EXPECT_EQ(out[0], 93);  // lc 3, lp 0, pb 2
    // Ending a stream that still waits for input.
    ASSERT_EQ(lz.Init(5, 1u << 16), 0);
    lz.SetInput(in.data(), 100);
    lz.SetOutput(out.data(), static_cast<std::uint32_t>(out.size()));
    EXPECT_EQ(lz.Compress(false), 0);
    EXPECT_EQ(lz.End(), 0);
    EXPECT_EQ(lz.Compress(true), 0);
    EXPECT_EQ(lz.Compress(false), -1);
}

TEST(BlockCodec, DecoderRefusesRawBytesCorruptAndTruncatedStreams) {
    std::vector<std::uint8_t> in = MakeSectors(Fill::Tagged, 256);
    for (CompressionType t : {COMPRESSION_BZIP2, COMPRESSION_ZLIB, COMPRESSION_LZMA}) {
        SCOPED_TRACE(t);
        std::vector<std::uint8_t> out;
        // A block stored raw is not a stream.
        EXPECT_FALSE(Decompress(t, in, &out));
        std::vector<std::uint8_t> stored = Compress(t, 9, in);
        ASSERT_FALSE(stored.empty());
        std::vector<std::uint8_t> cut(stored.begin(), stored.end() - 8);
        EXPECT_FALSE(Decompress(t, cut, &out));
        std::vector<std::uint8_t> bad = stored;
        for (std::size_t i = 12; i < bad.size(); i += 7)
            bad[i] ^= 0x5A;
        bool ok = Decompress(t, bad, &out);
        EXPECT_TRUE(!ok || out != in);
        // The decoder object is reusable after a failure.
        ASSERT_TRUE(Decompress(t, stored, &out));
        EXPECT_EQ(out, in);
    }
}

TEST(BlockCodec, LzmaDecoderChecksProperties) {
    std::vector<std::uint8_t> in = MakeSectors(Fill::Text, 256);
    std::vector<std::uint8_t> stored = Compress(COMPRESSION_LZMA, 5, in);
    ASSERT_FALSE(stored.empty());
    std::vector<std::uint8_t> out;
    struct Row {
        std::uint8_t lclppb;
        std::uint32_t dict;
        bool ok;
    } rows[] = {{93, 1u << 17, true},  {93, 8u << 20, true},      {93, 4096, true},
                {225, 1u << 17, false}, {255, 1u << 17, false},    {93, (8u << 20) + 1, false},
                {93, 0xFFFFFFFFu, false}};
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << int(r.lclppb) << " " << r.dict);
        std::vector<std::uint8_t> s = stored;
        s[0] = r.lclppb;
        for (int i = 0; i < 4; ++i)
            s[1 + i] = std::uint8_t(r.dict >> (8 * i));
        EXPECT_EQ(Decompress(COMPRESSION_LZMA, s, &out), r.ok);
        if (r.ok) {
            EXPECT_EQ(out, in);
        }
    }
}

// Streams made by another encoder (Python's liblzma binding with an 8 MiB dictionary, the
// classic layout) decode too.
TEST(BlockCodec, DecodesStreamsFromAnotherEncoder) {
    std::string dir = testsupport::ScratchDir("codec-foreign");
    std::vector<std::uint8_t> in = MakeSectors(Fill::Mixed, 256, 3);
    ASSERT_TRUE(WriteFileBytes(dir + "/in", in));
    MustRun("cd " + ShellQuote(dir) +
            " && python3 -c \"import lzma,zlib,bz2;d=open('in','rb').read();"
            "a=lzma.compress(d,format=lzma.FORMAT_ALONE,filters=[{'id':lzma.FILTER_LZMA1,'dict_size':8<<20}]);"
            "open('3','wb').write(a[:5]+a[13:]);open('2','wb').write(zlib.compress(d,9));"
            "open('1','wb').write(bz2.compress(d,9))\"");
    for (CompressionType t : {COMPRESSION_BZIP2, COMPRESSION_ZLIB, COMPRESSION_LZMA}) {
        SCOPED_TRACE(t);
        std::vector<std::uint8_t> out;
        ASSERT_TRUE(Decompress(t, LoadFile(dir + "/" + std::to_string(t)), &out));
        EXPECT_EQ(out, in);
    }
}

// A compressor kept for a whole image gives every block the same stream as a fresh one, also
// when the level changes between blocks or a stream was abandoned half-way.
TEST(BlockCodec, ReusedCompressorMatchesFreshOne) {
    std::vector<std::uint8_t> text = MakeSectors(Fill::Text, 256);
    std::vector<std::uint8_t> mixed = MakeSectors(Fill::Mixed, 200, 8);
    for (CompressionType t : {COMPRESSION_BZIP2, COMPRESSION_ZLIB, COMPRESSION_LZMA}) {
        SCOPED_TRACE(t);
        std::unique_ptr<ICompressor> kept(CreateCompressor(t));
        std::vector<std::uint8_t> out(kImageStoredBlockCapacity);
        // Abandon a stream without finishing it.
        ASSERT_EQ(kept->Init(5, 1u << 17), 0);
        kept->SetInput(text.data(), 1000);
        kept->SetOutput(out.data(), static_cast<std::uint32_t>(out.size()));
        EXPECT_GE(kept->Compress(false), 0);
        kept->End();
        for (int level : {1, 9, 9, 1}) {
            for (const auto* in : {&text, &mixed}) {
                std::uint32_t n = CompressWithCodec(kept.get(), level, 8u << 20, in->data(),
                                                    static_cast<std::uint32_t>(in->size()),
                                                    out.data(), kImageStoredBlockCapacity);
                ASSERT_GT(n, 0u);
                EXPECT_EQ(std::vector<std::uint8_t>(out.begin(), out.begin() + n),
                          Compress(t, level, *in));
            }
        }
    }
}
