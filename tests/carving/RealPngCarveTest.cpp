// Carving end to end: PNG files written by Python's zlib at test time are planted in an image
// of random data and zero runs, the RAW search finds and sizes them, the RAW tree names them,
// and the recovery engine writes them out byte for byte.
#include "carving/RAWSearchController.h"
#include "carving/RawFileTreeBuilder.h"
#include "filesystems/FileNode.h"
#include "filesystems/FileProperties.h"
#include "recovery/FileRecovery.h"
#include "storage/ImageFileDevice.h"
#include "tests/carving/RawSearchRun.h"
#include "tests/support/FixtureKit.h"
#include "tests/support/TreePtr.h"

#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>

using namespace testsupport;
using Bytes = std::vector<std::uint8_t>;

namespace {

// name, width, height, random pixels (else a gradient that compresses well).
const struct {
    const char* name;
    int width, height;
    bool noisy;
} kPngs[] = {
    {"tiny", 1, 1, false},    {"gradient", 640, 480, false}, {"noise", 300, 200, true},
    {"wide", 1500, 40, true}, {"big", 2200, 1700, true}, // about 11 MB: past the ring's reach
};

const char kPngWriter[] = R"PY(
import random, struct, sys, zlib
def chunk(kind, data):
    return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data) & 0xffffffff)
out, w, h, noisy = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4] == '1'
rng = random.Random(w * 7919 + h)
rows = bytearray()
for y in range(h):
    rows.append(0)
    if noisy:
        rows += rng.randbytes(w * 3)
    else:
        rows += bytes(((x + y) & 255, (x * 3) & 255, y & 255)[i] for x in range(w) for i in range(3))
z = zlib.compress(bytes(rows), 6)
data = b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', w, h, 8, 2, 0, 0, 0))
data += chunk(b'tEXt', b'Comment\x00made for a carving test')
for i in range(0, len(z), 65536):
    data += chunk(b'IDAT', z[i:i + 65536])
data += chunk(b'IEND', b'')
open(out, 'wb').write(data)
)PY";

std::string PngFolder() {
    return CachedFixture("carving-pngs", [](const std::string& tmp) {
        std::filesystem::create_directories(tmp);
        const std::string script = tmp + "/write_png.py";
        WriteFileBytes(script, Bytes(kPngWriter, kPngWriter + sizeof(kPngWriter) - 1));
        for (const auto& p : kPngs)
            if (!MustRun("python3 " + ShellQuote(script) + " " + ShellQuote(tmp + "/" + p.name + ".png") +
                         " " + std::to_string(p.width) + " " + std::to_string(p.height) + " " +
                         (p.noisy ? "1" : "0")))
                return false;
        std::filesystem::remove(script);
        return true;
    });
}

struct Planted {
    std::string name;
    std::uint64_t sector;
    Bytes bytes;
};

constexpr std::uint64_t kImageBytes = 40ull << 20;

// Random data with zero runs; each PNG at a sector start, a copy of "noise" 100 bytes past a
// sector start (no file can be carved there), the big one last.
std::vector<Planted> Layout(const std::string& folder) {
    std::vector<Planted> out;
    const std::uint64_t starts[] = {2048, 2060 + 7, 9001, 30005, 41000};
    std::size_t i = 0;
    for (const auto& p : kPngs)
        out.push_back({p.name, starts[i++], ReadFileBytes(folder + "/" + p.name + ".png")});
    return out;
}

std::string ImagePath(const std::string& folder) {
    return CachedFixture("carving-png-image.bin", [&](const std::string& tmp) {
        Bytes image = PatternBytes(kImageBytes, 99);
        std::memset(image.data(), 0, 1 << 20);                 // zero runs
        std::memset(image.data() + (20ull << 20), 0, 3 << 20);
        const std::vector<Planted> planted = Layout(folder);
        for (const Planted& p : planted) {
            if (p.bytes.empty() || p.sector * 512 + p.bytes.size() > image.size())
                return false;
            std::memcpy(image.data() + p.sector * 512, p.bytes.data(), p.bytes.size());
        }
        const Bytes& noise = planted[2].bytes;
        std::memcpy(image.data() + 15000 * 512 + 100, noise.data(), noise.size());
        return WriteFileBytes(tmp, image);
    });
}

} // namespace

TEST(RealPngCarving, CarvesSizesAndRecoversPlantedFiles) {
    ASSERT_TRUE(RequireTool("python3"));
    const std::string folder = PngFolder();
    ASSERT_FALSE(folder.empty());
    const std::string imagePath = ImagePath(folder);
    ASSERT_FALSE(imagePath.empty());
    const std::vector<Planted> planted = Layout(folder);
    ASSERT_GT(planted.back().bytes.size(), 10u << 20);

    GetScanOptions().SetDefaults();
    CImageFileDevice device(imagePath.c_str());
    ASSERT_EQ(device.Open(), 1);
    CRawFileList list;
    ASSERT_EQ(device.GetSectorCount(), kImageBytes / 512);
    const IntelligentSearchStats stats = RunRawSearch(device, list, 1000);

    std::map<std::uint64_t, const CRawFileInfo*> pngs;
    for (const CRawFileInfo* r : list.Records())
        if (r->m_u32FileType == 47)
            pngs[r->m_u64StartSector] = r;
    ASSERT_EQ(pngs.size(), planted.size());
    for (const Planted& p : planted) {
        SCOPED_TRACE(p.name);
        ASSERT_TRUE(pngs.count(p.sector));
        const CRawFileInfo* r = pngs[p.sector];
        EXPECT_EQ(r->m_u32AnalyserType, 47u);
        // Sized from the ring, except the one that reaches past it.
        EXPECT_EQ(r->m_u64Size, p.name == "big" ? 0u : p.bytes.size());
    }
    EXPECT_GE(stats.counters[ISS_FilesIdentified], planted.size());

    CRawFileTreeBuilder builder;
    TreePtr root(BuildRawFileTree(nullptr, nullptr, &builder, &device, list.GetIterator(), 1));
    ASSERT_TRUE(root);
    const CFileNode* folderNode = nullptr;
    for (const CFileNode* c = root->m_pFirstChild; c; c = c->m_pNextSibling)
        if (std::string(c->m_pProperties->GetName()) == "Portable Network Graphic file")
            folderNode = c;
    ASSERT_NE(folderNode, nullptr);

    // Check the whole PNG folder and recover it.
    ToggleCheckState(const_cast<CFileNode*>(folderNode), false);
    const std::string out = ScratchDir("carved-pngs");
    RecoverFolderJob job;
    std::string made;
    ASSERT_EQ(RecoverFolder(nullptr, &device, &job, root.get(), out, &made), 1);
    EXPECT_EQ(job.result, kRecoverDone);
    // Files are numbered in the order found, which is the order on the device.
    for (std::size_t i = 0; i < planted.size(); ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "FILE%03zu.PNG", i + 1);
        SCOPED_TRACE(name);
        const std::string path = made + "/Portable Network Graphic file/" + name;
        ASSERT_TRUE(std::filesystem::exists(path));
        EXPECT_TRUE(ReadFileBytes(path) == planted[i].bytes);
    }
}
