#include <gtest/gtest.h>

#include <cstdio>
#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <unistd.h>
#include <vector>

#include "recovery/RSData.h"
#include "tests/support/FixtureKit.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

const RSGuid kA{0xD208F26C, 0x078C, 0x4E34, {0x9D, 0x71, 0xD9, 0x1F, 0x53, 0x5F, 0x7B, 0x57}};
const RSGuid kB{0x9332EB72, 0x887D, 0x4145, {0x93, 0x7D, 0xC3, 0xC9, 0x18, 0xEA, 0x09, 0xFE}};
const RSGuid kC{0x409B6394, 0xF681, 0x4E88, {0xA2, 0x0F, 0x5D, 0x63, 0x57, 0x82, 0xED, 0x75}};

int CodeOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const IRSException& e) {
        return e.GetErrorCode();
    }
    return 0;
}

// Payload with compressible and incompressible stretches.
Bytes MixedPayload(std::size_t size) {
    Bytes out = testsupport::PatternBytes(size, 77);
    for (std::size_t i = 0; i < size; i += 3 * 4096)
        std::memset(out.data() + i, 'z', std::min<std::size_t>(5000, size - i));
    return out;
}

struct Store {
    std::string path;
    explicit Store(const char* name) : path(testsupport::ScratchDir(name) + "/s.rdf") {}

    void WriteSections(const std::vector<std::pair<RSGuid, Bytes>>& sections, bool create = true) {
        CRSDataEx w(RSDATA_WRITE);
        ASSERT_TRUE(w.Open(path.c_str(), create));
        if (create)
            w.SetStage(3);
        for (const auto& [guid, bytes] : sections) {
            w.OpenSection(guid);
            if (!bytes.empty())
                w.Write(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
            w.CloseSection();
        }
        w.Close();
    }
    Bytes ReadSection(const RSGuid& guid, std::size_t size) {
        CRSDataEx r(RSDATA_READ);
        EXPECT_TRUE(r.Open(path.c_str(), false));
        r.OpenSection(guid);
        Bytes out(size);
        if (size)
            r.Read(out.data(), static_cast<std::uint32_t>(size));
        return out;
    }
    Bytes File() { return testsupport::ReadFileBytes(path); }
};

std::uint32_t U32At(const Bytes& b, std::size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

} // namespace

// Written and read in odd pieces that cross the 4096-byte chunks and the 512 KiB staging buffer.
TEST(RSData, RoundTripInPiecesAcrossChunkAndBufferBoundaries) {
    Store s("rs-roundtrip");
    const std::size_t kSize = 1300 * 1024 + 17;
    Bytes payload = MixedPayload(kSize);
    Bytes second = testsupport::PatternBytes(10000, 5);
    {
        CRSDataEx w(RSDATA_WRITE);
        ASSERT_TRUE(w.Open(s.path.c_str(), true));
        ASSERT_TRUE(w.SetStage(2));
        ASSERT_TRUE(w.SetDescription("scan of disk 0"));
        w.OpenSection(kA);
        const std::size_t writes[] = {1, 4095, 4097, 3, 524289, 100000, 7};
        std::size_t pos = 0;
        for (int i = 0; pos < kSize; ++i) {
            std::size_t n = std::min(writes[i % 7], kSize - pos);
            w.Write(payload.data() + pos, static_cast<std::uint32_t>(n));
            pos += n;
        }
        w.CloseSection();
        w.OpenSection(kB);
        w.Write(second.data(), static_cast<std::uint32_t>(second.size()));
        w.CloseSection();
        w.Close();
    }
    CRSDataEx r(RSDATA_READ);
    ASSERT_TRUE(r.Open(s.path.c_str(), false));
    EXPECT_TRUE(r.CheckHeader());
    EXPECT_EQ(r.GetStage(), 2u);
    char description[64];
    ASSERT_TRUE(r.GetDescription(description, sizeof(description)));
    EXPECT_STREQ(description, "scan of disk 0");
    // Sections are found by GUID in any order.
    r.OpenSection(kB);
    Bytes back2(second.size());
    r.Read(back2.data(), static_cast<std::uint32_t>(back2.size()));
    EXPECT_EQ(back2, second);
    r.OpenSection(kA);
    Bytes back(kSize);
    const std::size_t reads[] = {4096, 1, 524287, 9000, 3, 70000};
    std::size_t pos = 0;
    for (int i = 0; pos < kSize; ++i) {
        std::size_t n = std::min(reads[i % 6], kSize - pos);
        r.Read(back.data() + pos, static_cast<std::uint32_t>(n));
        pos += n;
    }
    EXPECT_EQ(back, payload);
    char extra;
    EXPECT_EQ(CodeOf([&] { r.Read(&extra, 1); }), RSERR_SHORT_READ);
}

TEST(RSData, ChunkLayout) {
    Store s("rs-chunks");
    Bytes random = testsupport::PatternBytes(4096, 1);
    Bytes zeros(4096, 0);
    s.WriteSections({{kA, {}}, {kB, random}, {kC, zeros}});
    Bytes f = s.File();
    // Header, then the empty section: 36 bytes with stored length 0 and no chunks.
    ASSERT_GE(f.size(), 124u + 36 + 36 + 4098 + 36);
    EXPECT_EQ(U32At(f, 16), 3u);
    std::size_t at = 124;
    EXPECT_EQ(U32At(f, at + 32), 0u);
    at += 36;
    // Incompressible: stored raw, word 0x0FFF.
    EXPECT_EQ(U32At(f, at + 32), 4098u);
    EXPECT_EQ(f[at + 36] | f[at + 37] << 8, 0x0FFF);
    at += 36 + 4098;
    // Zeros: one compressed chunk.
    std::uint32_t stored = U32At(f, at + 32);
    std::uint16_t word = static_cast<std::uint16_t>(f[at + 36] | f[at + 37] << 8);
    EXPECT_TRUE(word & 0x8000);
    EXPECT_EQ((word & 0x0FFFu) + 1 + 2, stored);
    EXPECT_EQ(at + 36 + stored, f.size());
    EXPECT_EQ(s.ReadSection(kC, 4096), zeros);
    EXPECT_EQ(s.ReadSection(kB, 4096), random);
    EXPECT_EQ(s.ReadSection(kA, 0), Bytes{});
}

TEST(RSData, HeaderStageAndDescription) {
    Store s("rs-header");
    {
        CRSDataEx w(RSDATA_WRITE);
        ASSERT_TRUE(w.Open(s.path.c_str(), true));
        w.SetStage(4);
        w.SetDescription(std::string(150, 'd').c_str());
    }
    CRSDataEx r(RSDATA_READ);
    ASSERT_TRUE(r.Open(s.path.c_str(), false));
    char full[200];
    ASSERT_TRUE(r.GetDescription(full, sizeof(full)));
    EXPECT_EQ(std::string(full), std::string(100, 'd'));
    char small[50];
    ASSERT_TRUE(r.GetDescription(small, sizeof(small)));
    EXPECT_EQ(std::strlen(small), 49u);
    EXPECT_FALSE(r.GetDescription(nullptr, 10));
    EXPECT_FALSE(r.GetDescription(small, 0));

    // Stage words 0 and 5 fail the check; 5 also fails GetStage with code 2.
    struct Case {
        std::uint32_t stage;
        bool valid;
    };
    for (Case c : {Case{0, false}, Case{1, true}, Case{4, true}, Case{5, false}}) {
        Bytes f = s.File();
        f[16] = static_cast<std::uint8_t>(c.stage);
        ASSERT_TRUE(testsupport::WriteFileBytes(s.path, f));
        ASSERT_TRUE(r.Open(s.path.c_str(), false));
        EXPECT_EQ(r.CheckHeader(), c.valid) << c.stage;
        EXPECT_EQ(CodeOf([&] { r.GetStage(); }), c.stage >= 5 ? RSERR_BAD_HEADER : 0);
    }
    // A description length over 100 is a bad header.
    Bytes f = s.File();
    f[16] = 1;
    f[20] = 101;
    ASSERT_TRUE(testsupport::WriteFileBytes(s.path, f));
    ASSERT_TRUE(r.Open(s.path.c_str(), false));
    EXPECT_EQ(CodeOf([&] { r.GetDescription(full, sizeof(full)); }), RSERR_BAD_HEADER);
    // A file too short for a header: no stage, no error.
    ASSERT_TRUE(testsupport::WriteFileBytes(s.path, Bytes(10, 0)));
    ASSERT_TRUE(r.Open(s.path.c_str(), false));
    EXPECT_FALSE(r.CheckHeader());
    EXPECT_EQ(r.GetStage(), 0u);
    EXPECT_FALSE(r.Open("", false));
    EXPECT_FALSE(r.Open(nullptr, false));
}

TEST(RSData, ModeAndSectionErrors) {
    Store s("rs-modes");
    s.WriteSections({{kA, Bytes(10, 1)}});
    CRSDataEx w(RSDATA_WRITE);
    CRSDataEx r(RSDATA_READ);
    char b[4];
    struct Case {
        const char* what;
        std::function<void()> call;
        int code;
    };
    const Case cases[] = {
        {"write on the reader",
         [&] {
             r.Open(s.path.c_str(), false);
             r.OpenSection(kA);
             r.Write(b, 1);
         },
         RSERR_WRONG_MODE},
        {"read on the writer",
         [&] {
             w.Open(s.path.c_str(), false);
             w.OpenSection(kB);
             w.Read(b, 1);
         },
         RSERR_WRONG_MODE},
        {"stage on the writer", [&] { w.Open(s.path.c_str(), false), w.GetStage(); },
         RSERR_WRONG_MODE},
        {"read without a section", [&] { r.Open(s.path.c_str(), false), r.Read(b, 1); },
         RSERR_NO_SECTION},
        {"length without a section", [&] { r.Open(s.path.c_str(), false), r.GetSectionLength(); },
         RSERR_NO_SECTION},
        {"missing section", [&] { r.Open(s.path.c_str(), false), r.OpenSection(kC); },
         RSERR_SECTION_NOT_FOUND},
        {"read past the end",
         [&] {
             r.Open(s.path.c_str(), false);
             r.OpenSection(kA);
             char ten[11];
             r.Read(ten, 11);
         },
         RSERR_SHORT_READ},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CodeOf(c.call), c.code) << c.what;
    w.Close();

    // The error sticks until the store is opened again: one failed restore must not fail
    // every later one.
    ASSERT_TRUE(r.Open(s.path.c_str(), false));
    EXPECT_EQ(CodeOf([&] { r.OpenSection(kC); }), RSERR_SECTION_NOT_FOUND);
    EXPECT_EQ(CodeOf([&] { r.OpenSection(kA); }), RSERR_SECTION_NOT_FOUND);
    ASSERT_TRUE(r.Open(s.path.c_str(), false));
    EXPECT_EQ(CodeOf([&] { r.OpenSection(kA); }), 0);
    EXPECT_EQ(r.GetSectionLength(), 12u);
}

// A reader tells the end of a section's payload from more to come at every place the payload
// can end: inside a chunk, at a chunk's end, behind the staging buffer's worth of chunks, and
// in an empty section. The writer and the section behind are not disturbed.
TEST(RSData, AtSectionEndOnlyBehindTheLastByte) {
    const std::size_t sizes[] = {0, 1, 4095, 4096, 4097, 3 * 4096, 700000};
    for (std::size_t size : sizes) {
        SCOPED_TRACE(size);
        Store s("rs-at-end");
        const Bytes payload = MixedPayload(size);
        s.WriteSections({{kA, payload}, {kB, Bytes(10, 2)}});
        CRSDataEx r(RSDATA_READ);
        ASSERT_TRUE(r.Open(s.path.c_str(), false));
        r.OpenSection(kA);
        Bytes got(size);
        // Read in pieces that cross the chunks; the end shows only behind the last byte.
        for (std::size_t done = 0; done < size;) {
            EXPECT_FALSE(r.AtSectionEnd()) << done;
            const std::size_t n = std::min<std::size_t>(size - done, 3001);
            r.Read(got.data() + done, static_cast<std::uint32_t>(n));
            done += n;
        }
        EXPECT_TRUE(r.AtSectionEnd());
        EXPECT_EQ(got, payload);
        char b;
        EXPECT_EQ(CodeOf([&] { r.Read(&b, 1); }), RSERR_SHORT_READ);
        ASSERT_TRUE(r.Open(s.path.c_str(), false));
        r.OpenSection(kB);
        EXPECT_FALSE(r.AtSectionEnd());
        char ten[10];
        r.Read(ten, 10);
        EXPECT_TRUE(r.AtSectionEnd());
        EXPECT_EQ(Bytes(ten, ten + 10), Bytes(10, 2));
    }
    CRSDataEx w(RSDATA_WRITE);
    CRSDataEx r(RSDATA_READ);
    Store s("rs-at-end-modes");
    s.WriteSections({{kA, Bytes(4, 1)}});
    ASSERT_TRUE(w.Open(s.path.c_str(), false));
    w.OpenSection(kB);
    EXPECT_EQ(CodeOf([&] { w.AtSectionEnd(); }), RSERR_WRONG_MODE);
    w.Close();
    ASSERT_TRUE(r.Open(s.path.c_str(), false));
    EXPECT_EQ(CodeOf([&] { r.AtSectionEnd(); }), RSERR_NO_SECTION);
}

TEST(RSData, DuplicateSectionFirstWinsAndAppendingKeepsEarlierSections) {
    Store s("rs-dupes");
    s.WriteSections({{kA, Bytes(100, 1)}, {kB, Bytes(50, 2)}, {kA, Bytes(100, 3)}});
    s.WriteSections({{kC, Bytes(20, 4)}}, /*create=*/false);
    EXPECT_EQ(s.ReadSection(kA, 100), Bytes(100, 1));
    EXPECT_EQ(s.ReadSection(kC, 20), Bytes(20, 4));
    CRSDataEx r(RSDATA_READ);
    ASSERT_TRUE(r.Open(s.path.c_str(), false));
    EXPECT_EQ(r.GetStage(), 3u);
}

// A section whose CloseSection never ran keeps stored length 0: it reads as empty, and the
// search does not take its chunk bytes for section headers.
TEST(RSData, UnclosedSection) {
    Store s("rs-unclosed");
    Bytes data = testsupport::PatternBytes(6000, 3);
    {
        CRSDataEx w(RSDATA_WRITE);
        ASSERT_TRUE(w.Open(s.path.c_str(), true));
        w.SetStage(1);
        w.OpenSection(kA);
        w.Write(data.data(), 100);
        w.CloseSection();
        w.OpenSection(kB);
        w.Write(data.data(), static_cast<std::uint32_t>(data.size()));
        w.Flush(); // chunks reach the file, the header is never rewritten
        w.Close();
    }
    s.WriteSections({{kC, Bytes(8, 9)}}, /*create=*/false);
    CRSDataEx r(RSDATA_READ);
    ASSERT_TRUE(r.Open(s.path.c_str(), false));
    r.OpenSection(kB);
    EXPECT_EQ(r.GetSectionLength(), 0u);
    char b;
    EXPECT_EQ(CodeOf([&] { r.Read(&b, 1); }), RSERR_SHORT_READ);
    ASSERT_TRUE(r.Open(s.path.c_str(), false));
    EXPECT_EQ(CodeOf([&] { r.OpenSection(kC); }), RSERR_SECTION_NOT_FOUND);
    EXPECT_EQ(s.ReadSection(kA, 100), Bytes(data.begin(), data.begin() + 100));
}

TEST(RSData, DamagedFilesFailWithCodes) {
    Store s("rs-damage");
    Bytes zeros(4096, 0);
    s.WriteSections({{kA, zeros}, {kB, Bytes(10, 1)}});
    const Bytes good = s.File();
    const std::size_t chunkAt = 124 + 36;
    struct Case {
        const char* what;
        std::function<void(Bytes&)> damage;
        RSGuid section;
        int code;
    };
    const Case cases[] = {
        {"compressed chunk that does not inflate", [&](Bytes& f) { f[chunkAt + 2 + 3] ^= 0xFF; },
         kA, RSERR_SHORT_READ},
        {"chunk word with reserved bits", [&](Bytes& f) { f[chunkAt + 1] |= 0x70; }, kA,
         RSERR_SHORT_READ},
        {"chunk longer than its section",
         [&](Bytes& f) {
             f[chunkAt] = 0xFF;
             f[chunkAt + 1] = 0x0F;
         },
         kA, RSERR_SHORT_READ},
        {"length past the end of the file", [&](Bytes& f) { f.resize(f.size() - 1); }, kB,
         RSERR_SECTION_NOT_FOUND},
        {"foreign file GUID in a header", [&](Bytes& f) { f[124] ^= 1; }, kB,
         RSERR_SECTION_NOT_FOUND},
        {"stored length that jumps past the end", [&](Bytes& f) { f[124 + 32 + 3] = 0x7F; }, kB,
         RSERR_SECTION_NOT_FOUND},
    };
    for (const Case& c : cases) {
        Bytes f = good;
        c.damage(f);
        ASSERT_TRUE(testsupport::WriteFileBytes(s.path, f));
        int code = CodeOf([&] {
            CRSDataEx r(RSDATA_READ);
            ASSERT_TRUE(r.Open(s.path.c_str(), false));
            r.OpenSection(c.section);
            Bytes out(c.section == kA ? 4096 : 10);
            r.Read(out.data(), static_cast<std::uint32_t>(out.size()));
        });
        EXPECT_EQ(code, c.code) << c.what;
    }
}

// Section offsets are 32-bit: the store refuses to grow a file past 4 GiB. The file is sparse.
TEST(RSData, RefusesToPassFourGiB) {
    Store s("rs-4g");
    s.WriteSections({{kA, Bytes(4, 1)}});
    ASSERT_EQ(::truncate(s.path.c_str(), 0xFFFFFF00LL), 0);
    CRSDataEx w(RSDATA_WRITE);
    ASSERT_TRUE(w.Open(s.path.c_str(), false));
    w.OpenSection(kB);
    Bytes random = testsupport::PatternBytes(4096, 9);
    w.Write(random.data(), 4096);
    EXPECT_EQ(CodeOf([&] { w.CloseSection(); }), RSERR_WRITE_FAILED);
    w.Close();
    ASSERT_TRUE(w.Open(s.path.c_str(), false));
    ASSERT_EQ(::truncate(s.path.c_str(), 0xFFFFFFF0LL), 0);
    EXPECT_EQ(CodeOf([&] { w.OpenSection(kC); }), RSERR_WRITE_FAILED);
    w.Close();
    ::unlink(s.path.c_str());
}

TEST(RSData, ProcessWideStoresAndMemoryReader) {
    IRSData* reader = GetRecoveryStateReader();
    IRSData* writer = GetRecoveryStateWriter();
    EXPECT_EQ(reader, GetRecoveryStateReader());
    EXPECT_NE(reader, writer);
    Store s("rs-global");
    ASSERT_TRUE(writer->Open(s.path.c_str(), true));
    writer->SetStage(1);
    writer->OpenSection(kA);
    RSWriteValue<std::uint64_t>(writer, 0x1122334455667788ull);
    RSWriteValue<double>(writer, 2.5);
    writer->CloseSection();
    writer->Close();
    ASSERT_TRUE(reader->Open(s.path.c_str(), false));
    reader->OpenSection(kA);
    EXPECT_EQ(RSReadValue<std::uint64_t>(reader), 0x1122334455667788ull);
    EXPECT_EQ(RSReadValue<double>(reader), 2.5);
    reader->Close();

    Bytes f = s.File();
    CRSDataEx memory(RSDATA_READ);
    ASSERT_TRUE(memory.OpenBuffer(f.data(), f.size()));
    EXPECT_TRUE(memory.CheckHeader());
    memory.OpenSection(kA);
    EXPECT_EQ(RSReadValue<std::uint64_t>(&memory), 0x1122334455667788ull);
    EXPECT_FALSE(memory.OpenBuffer(f.data(), 0));
}

// The state files lie in the state folder: a link or a second name planted at a state file's
// name is never opened, whatever it names is left whole (or never made), a store of another
// user's is not read, and a store open for appending keeps what it holds.
TEST(RSData, AStateFileIsNeverOpenedThroughALinkNorASecondName) {
    struct Case {
        const char* what;
        int mode;
        bool create;
        bool targetExists;
    };
    const Case cases[] = {
        {"written anew", RSDATA_WRITE, true, true},
        {"appended to", RSDATA_WRITE, false, true},
        {"written anew, the link naming nothing", RSDATA_WRITE, true, false},
        {"read", RSDATA_READ, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string dir = testsupport::ScratchDir("rsdata-link");
        const std::string target = dir + "/elsewhere.txt";
        if (c.targetExists)
            testsupport::WriteFileBytes(target, Bytes{'k', 'e', 'e', 'p'});
        ASSERT_EQ(symlink(target.c_str(), (dir + "/s.rdf").c_str()), 0);
        CRSDataEx store(c.mode);
        EXPECT_FALSE(store.Open((dir + "/s.rdf").c_str(), c.create));
        store.Close();
        if (c.targetExists)
            EXPECT_EQ(testsupport::ReadFileBytes(target), (Bytes{'k', 'e', 'e', 'p'}));
        else
            EXPECT_NE(access(target.c_str(), F_OK), 0);
    }
    // A second name of another file is neither emptied nor appended to.
    for (const bool create : {true, false}) {
        SCOPED_TRACE(create ? "a second name, written anew" : "a second name, appended to");
        const std::string dir = testsupport::ScratchDir("rsdata-hardlink");
        const std::string target = dir + "/elsewhere.txt";
        testsupport::WriteFileBytes(target, Bytes{'k', 'e', 'e', 'p'});
        ASSERT_EQ(link(target.c_str(), (dir + "/h.rdf").c_str()), 0);
        CRSDataEx store(RSDATA_WRITE);
        EXPECT_FALSE(store.Open((dir + "/h.rdf").c_str(), create));
        store.Close();
        EXPECT_EQ(testsupport::ReadFileBytes(target), (Bytes{'k', 'e', 'e', 'p'}));
    }
    // A store of another user's is not read back, as it would not be written (as root: nobody's).
    if (geteuid() == 0) {
        Store foreign("rsdata-foreign");
        foreign.WriteSections({{kA, Bytes(10, 1)}});
        ASSERT_EQ(chown(foreign.path.c_str(), 65534, static_cast<gid_t>(-1)), 0);
        CRSDataEx reader(RSDATA_READ);
        EXPECT_FALSE(reader.Open(foreign.path.c_str(), false));
        reader.Close();
        ASSERT_EQ(chown(foreign.path.c_str(), 0, static_cast<gid_t>(-1)), 0);
        EXPECT_TRUE(reader.Open(foreign.path.c_str(), false));
        reader.Close();
    }
    // A store of its own is kept when opened for appending.
    Store s("rsdata-append");
    s.WriteSections({{kA, Bytes(100, 1)}});
    const Bytes before = s.File();
    CRSDataEx again(RSDATA_WRITE);
    ASSERT_TRUE(again.Open(s.path.c_str(), false));
    again.Close();
    EXPECT_EQ(s.File(), before);
}
