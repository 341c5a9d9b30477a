// Files made by the real tools are recognised by the right analyser and sized to the byte,
// wherever they lie against the reader's 512 KiB blocks.
#include "tests/carving/analysers/AnalyserTestKit.h"
#include "carving/SignatureIndex.h"
#include "tests/support/ImageFiles.h"

#include <random>

#include <gtest/gtest.h>

using namespace analysertest;
using namespace testsupport;

TEST(RealImageFiles, EachIsTakenByItsAnalyserAndSizedExactly) {
    const std::string dir = RealImageFilesDir();
    ASSERT_FALSE(dir.empty());
    for (const RealImageFile& f : RealImageFiles()) {
        const Bytes file = ReadFileBytes(dir + "/" + f.name);
        ASSERT_FALSE(file.empty()) << f.name;
        // Sector 5, and sector 1020, where the file runs across a block of the reader.
        for (std::uint64_t start : {5ull, 1020ull}) {
            const Outcome o = Carve(file, start);
            ASSERT_TRUE(o.matched) << f.name;
            EXPECT_EQ(o.analyser, f.analyser) << f.name;
            EXPECT_EQ(o.fileType, f.fileType) << f.name;
            EXPECT_EQ(o.size, file.size()) << f.name << " at sector " << start;
        }
        // Sized on a device that ends with the file (no bytes behind it).
        const Outcome tail = Carve(file, 1, 0, true);
        EXPECT_EQ(tail.size, file.size()) << f.name << " at the end of the device";
    }
}

TEST(RealImageFiles, DamagedCopiesNeverRunAway) {
    // Bytes of every header overwritten one at a time, and copies cut short: whatever the
    // analysers make of them, they finish and keep their reads near the cap.
    const std::string dir = RealImageFilesDir();
    ASSERT_FALSE(dir.empty());
    ScopedCap cap(256 * 1024);
    // Every analyser of this family, whether or not the damaged sector still matches it.
    std::vector<std::unique_ptr<IRawFileAnalyser>> family;
    for (const char* name : {"FileBMPAnalyser", "FileGIFAnalyser", "FileJPGAnalyser", "FileTIFAnalyser",
                             "FileICOAnalyser", "FilePSDAnalyser", "FilePSPAnalyser", "FileCPTAnalyser",
                             "FileEMFAnalyser", "FileWMFAnalyser", "FileEPSAnalyser", "File3DSAnalyser",
                             "FileDWGAnalyser", "FileDXFAnalyser", "FileFH11Analyser", "FileTTFAnalyser"})
        family.push_back(CreateAnalyserByName(name));
    for (const RealImageFile& f : RealImageFiles()) {
        const Bytes file = ReadFileBytes(dir + "/" + f.name);
        if (file.size() > 64 * 1024)
            continue;
        auto dev = Plant(file, 2, 2 << 20);
        std::uint8_t* bytes = dev->Sector(2);
        for (std::size_t at = 0; at < std::min<std::size_t>(file.size(), 512); at += 9) {
            for (std::uint8_t v : {std::uint8_t(0xFF), std::uint8_t(file[at] ^ 0x80)}) {
                bytes[at] = v;
                for (auto& a : family) {
                    dev->ClearCalls();
                    CRawFileInfo r;
                    a->MatchHeader(bytes, &r);
                    r.m_u64StartSector = 2;
                    a->ComputeFileSize(&r, dev.get());
                    // A few single reads at offsets taken from the header may miss the device;
                    // no scan may go on past the cap.
                    std::size_t far = 0;
                    for (const auto& c : dev->Calls())
                        far += c.first > 2 + (256 * 1024 + 65536 * 2) / 512 + 1025;
                    ASSERT_LE(far, 16u) << f.name << " byte " << at << " " << ClassName(*a);
                }
            }
            bytes[at] = file[at];
        }
        for (std::size_t keep : {std::size_t(40), file.size() / 3, file.size() - 1})
            Carve(Bytes(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(keep)), 1, 0, true);
    }
}

TEST(RealImageFiles, SignatureDispatchAgreesWithThePlainWalk) {
    // The keys of every analyser are a necessary condition of its MatchHeader: the index gives
    // the answer of the plain walk on the first sectors of real files and damaged copies.
    const std::string dir = RealImageFilesDir();
    ASSERT_FALSE(dir.empty());
    RawFileAnalyserList list;
    CreateAllRawFileAnalysers(&list);
    CSignatureIndex index;
    index.Build(list);
    std::mt19937 rng(11);
    int decided = 0;
    for (const RealImageFile& f : RealImageFiles()) {
        Bytes first = ReadFileBytes(dir + "/" + f.name);
        first.resize(512, 0);
        for (int round = 0; round < 400; ++round) {
            Bytes sector = first;
            for (int k = round ? 1 + round % 3 : 0; k > 0; --k)
                sector[rng() % 64] = static_cast<std::uint8_t>(rng());
            CRawFileInfo a, b;
            const int walk = MatchSectorByWalk(list, sector.data(), &a);
            ASSERT_EQ(walk, index.Match(sector.data(), &b)) << f.name << " round " << round;
            ASSERT_EQ(a.m_u32FileType, b.m_u32FileType);
            ASSERT_EQ(a.m_u64Size, b.m_u64Size);
            decided += walk >= 0;
        }
    }
    EXPECT_GT(decided, 1000);
}

TEST(RealImageFiles, CutShortJpegsEndWhereTheirDataCannotGoOn) {
    // A JPEG whose end was overwritten: by the start of another JPEG, the file ends right
    // there; by random data, at the first byte pair that entropy-coded data cannot hold, a few
    // bytes further at most, not at a chance end marker far behind.
    const std::string dir = RealImageFilesDir();
    ASSERT_FALSE(dir.empty());
    const Bytes next = ReadFileBytes(dir + "/jpeg-jfif.jpg");
    ASSERT_FALSE(next.empty());
    for (const char* name : {"jpeg-large.jpg", "jpeg-large-progressive.jpg"}) {
        SCOPED_TRACE(name);
        const Bytes whole = ReadFileBytes(dir + "/" + name);
        ASSERT_GT(whole.size(), 8000u);
        const std::size_t cut = whole.size() * 2 / 3;
        Bytes file(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(cut));
        Bytes followed = file;
        followed.insert(followed.end(), next.begin(), next.end());
        EXPECT_EQ(Carve(followed, 5, 64 * 1024).size, cut);

        const Outcome o = Carve(file, 5, 256 * 1024);
        EXPECT_GE(o.size, cut);
        EXPECT_LT(o.size, cut + 4096);
    }
}
