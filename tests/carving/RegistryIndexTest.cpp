#include "carving/RawFileAnalyserRegistry.h"
#include "carving/SignatureIndex.h"
#include "carving/analysers/BuiltInAnalysers.h"
#include "carving/records/RawFileTypeTable.h"
#include "filesystems/FileProperties.h"
#include "tests/carving/TestAnalysers.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <gtest/gtest.h>
#include <random>
#include <string>

using namespace carvingtest;

namespace {

bool Registered(const char* name) {
    for (const char* n : GetRegisteredAnalyserNames())
        if (std::string(n) == name)
            return true;
    return false;
}

} // namespace

TEST(AnalyserRegistry, CreatesTheClassesOfTheChosenIds) {
    ASSERT_TRUE(Registered("FilePNGAnalyser"));
    EXPECT_FALSE(Registered("NoSuchAnalyser"));
    EXPECT_EQ(CreateAnalyserByName("NoSuchAnalyser"), nullptr);

    // The process-wide registry starts with one object of every registered class.
    RawFileAnalyserList* registry = GetRawFileAnalysers();
    ASSERT_NE(registry, nullptr);
    EXPECT_NE(registry->FindByTypeId(47), nullptr);

    RawFileAnalyserList list;
    RawTypeList types;
    SelectRawFileAnalysers(&list, &types); // empty choice: empty registry
    EXPECT_TRUE(list.Empty());
    for (std::uint32_t id : {20u, 26u})
        types.Add(id);
    SelectRawFileAnalysers(&list, &types); // DLL and EXE have no analyser
    EXPECT_TRUE(list.Empty());
    types.Add(47);
    types.Add(47);
    SelectRawFileAnalysers(&list, &types);
    ASSERT_EQ(list.Size(), 2u); // a class is present once per chosen id
    EXPECT_EQ(list.At(0)->GetTypeId(), 47);
    EXPECT_EQ(list.FindByTypeId(47), list.At(0));
    EXPECT_EQ(list.FindByTypeId(0x10000 + 47), list.At(0)); // compared as 16-bit values
    EXPECT_EQ(list.FindByTypeId(33), nullptr);
    SelectRawFileAnalysers(&list, nullptr);
    EXPECT_TRUE(list.Empty());

    // Ids whose classes are all registered create them in the table's order.
    RawFileAnalyserList all;
    for (std::uint32_t id = 1; id <= 68; ++id)
        CreateRawFileAnalyser(id, &all);
    EXPECT_GE(all.Size(), 1u);
}

TEST(AnalyserRegistry, OrderIdsAndTypesStayAsSaved) {
    // Scan-state files keep type ids and the analysers' own ids: the classes, their order and
    // the table of types must not move.
    const std::vector<std::string> order = {"File3DSAnalyser", "File3GPAnalyser", "FileASFAnalyser", "FileAUAnalyser", "FileBMPAnalyser", "FileCABAnalyser", "FileCHMAnalyser", "FileCPTAnalyser", "FileCRWAnalyser", "FileDBXAnalyser", "FileDWGAnalyser", "FileDXFAnalyser", "FileEMFAnalyser", "FileEPSAnalyser", "FileFH11Analyser", "FileGIFAnalyser", "FileGZAnalyser", "FileHLPAnalyser", "FileHTMAnalyser", "FileICOAnalyser", "FileJPGAnalyser", "FileLowDocAnalyser", "FileLZHAnalyser", "FileMDBAnalyser", "FileMIDAnalyser", "FileMNYAnalyser", "FileMOVAnalyser", "FileMP3Analyser", "FileMP4Analyser", "FileOLEAnalyser", "FileONEAnalyser", "FilePDFAnalyser", "FilePNGAnalyser", "FilePSDAnalyser", "FilePSPAnalyser", "FilePSTAnalyser", "FileRARAnalyser", "FileRIFFAnalyser", "FileRTFAnalyser", "FileSWFAnalyser", "FileTARAnalyser", "FileTIFAnalyser", "FileTTFAnalyser", "FileUnicodeHTMAnalyser", "FileWMFAnalyser", "FileWPDAnalyser", "FileZIPAnalyser", "CustomFileAnalyser"};
    RawFileAnalyserList all;
    CreateAllRawFileAnalysers(&all);
    ASSERT_EQ(all.Size(), order.size());
    const std::vector<const char*> names = GetRegisteredAnalyserNames();
    ASSERT_EQ(names.size(), order.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        EXPECT_EQ(names[i], order[i]);
        auto made = CreateAnalyserByName(order[i].c_str());
        ASSERT_TRUE(made) << order[i];
        EXPECT_EQ(made->GetTypeId(), all.At(i)->GetTypeId()) << order[i];
        EXPECT_TRUE(made->IsInterchangeableWith(*all.At(i))) << order[i];
        std::vector<SignatureKey> keys;
        if (i + 1 < order.size()) { // built-in analysers are asked by key (scripts: their own)
            EXPECT_TRUE(made->GetSignatureKeys(keys)) << order[i];
            EXPECT_FALSE(keys.empty()) << order[i];
        }
    }
    // One class serves MPEG-4 and 3GPP files; its two analysers answer differently.
    EXPECT_FALSE(CreateAnalyserByName("File3GPAnalyser")->IsInterchangeableWith(
        *CreateAnalyserByName("FileMP4Analyser")));

    const struct {
        std::uint32_t id;
        const char* extension;
        const char* first;
        const char* second;
        const char* description;
    } ids[] = {
        {1, "3DS", "File3DSAnalyser", "", "3DS file"},
        {2, "3GP", "File3GPAnalyser", "", "3GP Multimedia file"},
        {3, "ADP", "FileONEAnalyser", "", "Access Project file"},
        {4, "ANI", "FileRIFFAnalyser", "", "ANI file"},
        {5, "AI", "FilePDFAnalyser", "", "Adobe Illustrator file"},
        {6, "ASF", "FileASFAnalyser", "", "Audio Streaming Format file"},
        {7, "AU", "FileAUAnalyser", "", "AU file"},
        {8, "AVI", "FileRIFFAnalyser", "", "Audio Video Interleave file"},
        {9, "BMP", "FileBMPAnalyser", "", "Bitmap file"},
        {10, "CAB", "FileCABAnalyser", "", "Cabinet file"},
        {11, "CDR", "FileRIFFAnalyser", "", "COREL Darw file"},
        {12, "CHM", "FileCHMAnalyser", "", "CHM file"},
        {13, "CLK", "FileRIFFAnalyser", "", "Corel Draw Corel RAVE Image file"},
        {14, "CMX", "FileRIFFAnalyser", "", "Corel Draw Vector Image file"},
        {15, "CPT", "FileCPTAnalyser", "", "Corel Photo Paint Image file"},
        {16, "CRW", "FileCRWAnalyser", "", "Canon Raw graphics file"},
        {17, "CSL", "FileRIFFAnalyser", "", "CSL file"},
        {18, "CUR", "FileICOAnalyser", "", "Cursor file"},
        {19, "DBX", "FileDBXAnalyser", "", "Outlook Express Email file"},
        {20, "DLL", "", "", "DLL file"},
        {21, "DOC", "FileOLEAnalyser", "FileLowDocAnalyser", "Microsoft Word Document"},
        {22, "DWG", "FileDWGAnalyser", "", "AutoCAD Drawing file"},
        {23, "DXF", "FileDXFAnalyser", "", "AutoCad DX File"},
        {24, "EMF", "FileEMFAnalyser", "", "Enhanced Metafile"},
        {25, "EPS", "FileEPSAnalyser", "", "Encapsulated Postscript file"},
        {26, "EXE", "", "", "EXE file"},
        {27, "FH11", "FileFH11Analyser", "", "Freehand 10 file"},
        {28, "GIF", "FileGIFAnalyser", "", "GIF graphics file"},
        {29, "GZ", "FileGZAnalyser", "", "GZIP compression file"},
        {30, "HLP", "FileHLPAnalyser", "", "Help file"},
        {31, "HTM", "FileHTMAnalyser", "FileUnicodeHTMAnalyser", "HTML Documents file"},
        {32, "ICO", "FileICOAnalyser", "", "Icon file"},
        {33, "JPG", "FileJPGAnalyser", "", "JPEG Graphics file"},
        {34, "LZH", "FileLZHAnalyser", "", "LZH compression file"},
        {35, "MAX", "FileOLEAnalyser", "", "3d Studio Max file"},
        {36, "MID", "FileMIDAnalyser", "", "Musical Instrument Digital Interface file"},
        {37, "MDB", "FileMDBAnalyser", "", "Access Database file"},
        {38, "MNY", "FileMNYAnalyser", "", "Microsoft Money file"},
        {39, "MOF", "FileOLEAnalyser", "", "MOF file"},
        {40, "MOV", "FileMOVAnalyser", "", "MOV Multimedia file"},
        {41, "MP3", "FileMP3Analyser", "", "MP3 Music file"},
        {42, "MP4", "FileMP4Analyser", "", "MP4 Multimedia file"},
        {43, "MPP", "FileOLEAnalyser", "", "Microsoft Project file"},
        {44, "OLE", "FileOLEAnalyser", "", "Compound file"},
        {45, "ONE", "FileONEAnalyser", "", "Microsoft OneNote file"},
        {46, "PDF", "FilePDFAnalyser", "", "Adobe Portable Document"},
        {47, "PNG", "FilePNGAnalyser", "", "Portable Network Graphic file"},
        {48, "PPT", "FileOLEAnalyser", "", "Microsoft PowerPoint Presentation file"},
        {49, "PUB", "FileOLEAnalyser", "", "Microsoft Publisher Document"},
        {50, "PSD", "FilePSDAnalyser", "", "Adobe Photoshop file"},
        {51, "PSP", "FilePSPAnalyser", "", "Paint Shop Pro file"},
        {52, "PST", "FilePSTAnalyser", "", "Outlook Email file"},
        {53, "QPW", "FileOLEAnalyser", "", "QuattroPro 7 File"},
        {54, "RAR", "FileRARAnalyser", "", "RAR compression file"},
        {55, "RIFF", "FileRIFFAnalyser", "", "RIFF Multimedia file"},
        {56, "RTF", "FileRTFAnalyser", "", "Rich Text Document"},
        {57, "SHW", "FileOLEAnalyser", "FileWPDAnalyser", "Corel Presentation File"},
        {58, "SWF", "FileSWFAnalyser", "", "ShockWave Flash file"},
        {59, "TAR", "FileTARAnalyser", "", "TAR archive file"},
        {60, "TIF", "FileTIFAnalyser", "", "Tagged Image File"},
        {61, "TTF", "FileTTFAnalyser", "", "True Type Font file"},
        {62, "VSD", "FileOLEAnalyser", "", "Microsoft Visio Drawing"},
        {63, "WAV", "FileRIFFAnalyser", "", "WAVE Multimedia file"},
        {64, "WPD", "FileOLEAnalyser", "FileWPDAnalyser", "WordPerfect file"},
        {65, "WPG", "FileOLEAnalyser", "FileWPDAnalyser", "WordPerfect Documents and Graphics v8"},
        {66, "WMF", "FileWMFAnalyser", "", "WMF Multimedia file"},
        {67, "XLS", "FileOLEAnalyser", "", "Microsoft Excel XML Documents"},
        {68, "ZIP", "FileZIPAnalyser", "", "Zip compression file"},
    };
    const auto typeOf = [](const char* name) {
        auto a = CreateAnalyserByName(name);
        return a ? a->GetTypeId() : -2;
    };
    for (const auto& e : ids) {
        SCOPED_TRACE(e.id);
        EXPECT_STREQ(GetRawFileTypeExtension(e.id), e.extension);
        EXPECT_STREQ(GetRawFileTypeDescription(e.id), e.description);
        RawFileAnalyserList list;
        CreateRawFileAnalyser(e.id, &list);
        const std::size_t want = (*e.first ? 1 : 0) + (*e.second ? 1 : 0);
        ASSERT_EQ(list.Size(), want);
        if (*e.first) {
            EXPECT_EQ(list.At(0)->GetTypeId(), typeOf(e.first));
        }
        if (*e.second) {
            EXPECT_EQ(list.At(1)->GetTypeId(), typeOf(e.second));
        }
    }
    EXPECT_STREQ(GetRawFileTypeExtension(0), "Raw");
    for (std::uint32_t id : {0u, 69u, 1000u, 1999u}) {
        RawFileAnalyserList list;
        CreateRawFileAnalyser(id, &list);
        ASSERT_EQ(list.Size(), 1u);
        EXPECT_EQ(list.At(0)->GetTypeId(), -1); // the scripts' analyser
    }
}

TEST(AnalyserRegistry, EachAnalyserIsAskedByItsDescriptorsKeys) {
    // The keys the signature index asks an analyser for are the ones the registry's checks read.
    for (const AnalyserDescriptor* d : kBuiltInAnalysers) {
        std::unique_ptr<IRawFileAnalyser> made(d->create());
        EXPECT_EQ(made->GetTypeId(), d->typeId) << d->name;
        std::vector<SignatureKey> keys;
        EXPECT_TRUE(made->GetSignatureKeys(keys)) << d->name;
        EXPECT_TRUE(std::equal(keys.begin(), keys.end(), d->keys.begin(), d->keys.end())) << d->name;
    }
}

TEST(SignatureIndex, KeysAndCaseVariants) {
    std::vector<SignatureKey> keys;
    AddSignatureKeyNoCase(keys, 4, "ft", 2);
    EXPECT_EQ(keys.size(), 4u);
    keys.clear();
    AddSignatureKeyNoCase(keys, 0, "<H", 2);
    EXPECT_EQ(keys.size(), 2u);
    keys.clear();
    AddSignatureKey(keys, 257, "ustar", 5);
    ASSERT_EQ(keys.size(), 1u);
    EXPECT_EQ(keys[0].length, 2);
    EXPECT_EQ(keys[0].bytes[1], 's');
}

// The index must give exactly what the plain walk gives, sector by sector: the same deciding
// position and the same record.
TEST(SignatureIndex, SameAnswerAsThePlainWalk) {
    RawFileAnalyserList list;
    list.Append(std::make_unique<SigAnalyser>(1, 0, "MM", false, 1, 4096));
    list.Append(std::make_unique<ThrowingAnalyser>());
    list.Append(std::make_unique<SigAnalyser>(2, 4, "ftypisom", true, 2));      // case-insensitive
    list.Append(std::make_unique<SigAnalyser>(3, 257, "ustar", false, 3));      // far offset
    list.Append(std::make_unique<SigAnalyser>(4, 2, "-lh5-", false, 4));
    list.Append(std::make_unique<SigAnalyser>(5, 40, " EMF", false, 5));
    list.Append(std::make_unique<SigAnalyser>(6, 0, "M", false, 6));            // overlaps "MM"
    list.Append(std::make_unique<SigAnalyser>(7, 0, "Q", false, 7, 0, false));  // unkeyed
    list.Append(std::make_unique<SigAnalyser>(8, 0, "MM", false, 1, 4096));     // never decides
    list.Append(std::make_unique<SigAnalyser>(9, 510, "Z", false, 9));          // last bytes
    list.Append(std::make_unique<SigAnalyser>(10, 511, "Y", false, 10));
    list.Append(std::make_unique<SigAnalyser>(1, 0, "MM", false, 1, 4096));     // duplicate
    CSignatureIndex index;
    index.Build(list);
    EXPECT_EQ(index.GetUnkeyedCount(), 2u); // the unkeyed one and the throwing one

    const char* plants[][2] = {{"0", "MM"},       {"0", "MX"},    {"4", "FTYPisom"},
                               {"4", "ftypISOX"}, {"257", "ustar"}, {"2", "-lh5-"},
                               {"40", " EMF"},     {"0", "Q"},     {"0", "T"},
                               {"510", "Z"},       {"511", "Y"},   {"0", "ustar"}};
    std::mt19937 rng(7);
    std::uint8_t sector[512];
    int decided = 0;
    for (int round = 0; round < 40000; ++round) {
        for (auto& b : sector)
            b = static_cast<std::uint8_t>(rng());
        // Plant up to three signatures, so several analysers can accept one sector.
        const int n = static_cast<int>(rng() % 4);
        for (int i = 0; i < n; ++i) {
            const auto& p = plants[rng() % (sizeof(plants) / sizeof(plants[0]))];
            const std::size_t off = std::stoul(p[0]);
            std::memcpy(sector + off, p[1], std::min<std::size_t>(std::strlen(p[1]), 512 - off));
        }
        CRawFileInfo a, b;
        a.m_u32FileType = b.m_u32FileType = 12345; // stale fields must not leak
        const int walk = MatchSectorByWalk(list, sector, &a);
        const int fast = index.Match(sector, &b);
        ASSERT_EQ(walk, fast) << "round " << round;
        ASSERT_EQ(a.m_u32FileType, b.m_u32FileType);
        ASSERT_EQ(a.m_u64Size, b.m_u64Size);
        if (walk < 0) {
            ASSERT_EQ(a.m_u32FileType, 0u);
        }
        decided += walk >= 0;
    }
    EXPECT_GT(decided, 10000);

    // A sector both "MM" analysers and "M" accept goes to the first in list order.
    std::memset(sector, 0, sizeof(sector));
    std::memcpy(sector, "MM", 2);
    CRawFileInfo r;
    EXPECT_EQ(index.Match(sector, &r), 0);
    EXPECT_EQ(r.m_u64Size, 4096u);
}

TEST(SignatureIndex, EmptyListAndManyOffsets) {
    RawFileAnalyserList empty;
    CSignatureIndex index;
    index.Build(empty);
    std::uint8_t sector[512] = {1, 2, 3, 4};
    CRawFileInfo r;
    EXPECT_EQ(index.Match(sector, &r), -1);

    // More offsets than tables: the rest are asked for every sector and still decide right.
    RawFileAnalyserList list;
    for (int i = 0; i < 20; ++i)
        list.Append(std::make_unique<SigAnalyser>(i + 1, static_cast<std::uint16_t>(i * 20), "AB"));
    index.Build(list);
    EXPECT_EQ(index.GetProbeCount(), CSignatureIndex::kMaxProbes);
    EXPECT_EQ(index.GetUnkeyedCount(), 20u - CSignatureIndex::kMaxProbes);
    for (int i = 0; i < 20; ++i) {
        std::memset(sector, 0x11, sizeof(sector));
        std::memcpy(sector + i * 20, "AB", 2);
        CRawFileInfo a, b;
        EXPECT_EQ(index.Match(sector, &a), MatchSectorByWalk(list, sector, &b));
        EXPECT_EQ(a.m_u32FileType, static_cast<std::uint32_t>(i + 1));
    }
}
