#include "tests/ui/views/ViewsFixtures.h"

#include <cstring>
#include <gtest/gtest.h>

#include "filesystems/DIRBuildCallback.h"
#include "filesystems/FileProperties.h"
#include "filesystems/fat/FatSearchedPartitionInfo.h"
#include "filesystems/fat/FatTreeBuilder.h"
#include "filesystems/ntfs/NtfsTreeBuilder.h"
#include "storage/ImageFileDevice.h"
#include "tests/support/FatImages.h"
#include "tests/support/FixtureKit.h"
#include "tests/support/NtfsImages.h"

using namespace testsupport;

namespace viewtests {

CFileNode* HandNodes::Add(const MyFilePropertiesRecord& record) {
    auto p = std::make_unique<CMyFileProperties>();
    p->SetRecord(record);
    auto n = std::make_unique<CFileNode>();
    n->BorrowProperties(p.get());
    props.push_back(std::move(p));
    nodes.push_back(std::move(n));
    return nodes.back().get();
}

HandNodes::~HandNodes() {
    for (auto& n : nodes)
        n->m_pProperties.Reset();
}

MyFilePropertiesRecord Record(const char* name, std::uint32_t valid, std::uint64_t size,
                              std::uint64_t time, std::uint16_t attrs, std::uint8_t state) {
    MyFilePropertiesRecord r;
    std::strncpy(r.name, name, sizeof r.name - 1);
    r.nameLength = static_cast<std::uint32_t>(std::strlen(r.name));
    r.size = size;
    r.attributes = attrs;
    r.creationTime.ticks = time;
    r.lastWriteTime.ticks = time;
    r.lastAccessTime.ticks = time;
    r.entryState = state;
    r.validFields = valid;
    return r;
}

const std::string& NtfsListImage() {
    static const std::string image = CachedFixture("views-ntfs-list-v1.img", [](const std::string& tmp) {
        NtfsImageRecipe recipe;
        recipe.sizeMiB = 16;
        if (!MakeNtfsImage(tmp, recipe) || !NtfsMkdir(tmp, "/docs") || !NtfsMkdir(tmp, "/docs/sub"))
            return false;
        for (int i = 0; i < 12; ++i)
            if (!NtfsWriteFile(tmp, "/docs/f" + std::to_string(i) + ".txt",
                               PatternBytes(100 + 37 * ((i * 7) % 12), i)))
                return false;
        if (!NtfsWriteFile(tmp, "/docs/sub/a.bin", PatternBytes(1000, 50)) ||
            !NtfsWriteFile(tmp, "/docs/sub/b.bin", PatternBytes(2000, 51)) ||
            !NtfsWriteFile(tmp, "/docs/gone.txt", PatternBytes(5000, 52)))
            return false;
        return NtfsDelete(tmp, "/docs/gone.txt");
    });
    return image;
}

TreePtr ScanNtfs(const std::string& image) {
    CImageFileDevice device(image.c_str());
    CNullDirBuildCallback build;
    NtfsTreeBuildParams params;
    InitNtfsTreeBuildParams(&params);
    return TreePtr(BuildNtfsFileTree(&device, &params, &build));
}

const std::string& FatPictureImage() {
    static const std::string image = CachedFixture("views-fat-pictures-v3.img", [](const std::string& tmp) {
        if (!RequireFatTools() || !RequireTool("convert"))
            return false;
        FatImageOptions options;
        options.fatBits = 16;
        options.sizeKiB = 32 * 1024;
        if (!FatImage::Format(tmp, options))
            return false;
        FatImage img(tmp);
        // The folder first, so that it takes cluster 2.
        if (!img.MakeDir("/Folder") || !img.WriteFile("/Folder/inner.txt", PatternBytes(3000, 9)))
            return false;
        const std::string dir = tmp + ".src";
        if (!MustRun("mkdir -p " + ShellQuote(dir)))
            return false;
        const struct { const char* name; const char* args; } pictures[] = {
            {"wide.png", "-size 200x100 gradient:red-blue"},
            {"tall.jpg", "-size 60x120 plasma:fractal -seed 3"},
            {"small.gif", "-size 40x30 xc:green"},
            {"square.bmp", "-size 80x80 xc:yellow"},
            {"big.png", "-size 2400x1200 xc:gray -define png:compression-level=9"},
        };
        for (const auto& p : pictures) {
            const std::string out = dir + "/" + p.name;
            if (!MustRun(std::string("convert ") + p.args + " " + ShellQuote(out)) ||
                !img.CopyIn(out, std::string("/") + p.name))
                return false;
        }
        // Truncated PNG: the header says 200 x 100, the data stops early.
        std::vector<std::uint8_t> wide = ReadFileBytes(dir + "/wide.png");
        wide.resize(wide.size() / 2);
        // A PNG header that claims 60000 x 60000.
        std::vector<std::uint8_t> claim = ReadFileBytes(dir + "/wide.png");
        claim[16] = 0, claim[17] = 0, claim[18] = 0xEA, claim[19] = 0x60;
        claim[20] = 0, claim[21] = 0, claim[22] = 0xEA, claim[23] = 0x60;
        // Larger than 5 MiB: a valid BMP of 1400 x 1300 x 3.
        const std::string largeBmp = dir + "/large.bmp";
        return img.WriteFile("/cut.png", wide) && img.WriteFile("/claim.png", claim) &&
               MustRun("convert -size 1400x1300 xc:blue -type truecolor " + ShellQuote(largeBmp)) &&
               img.CopyIn(largeBmp, "/large.bmp") &&
               img.WriteFile("/notes.txt", std::vector<std::uint8_t>{'h', 'i', '\n'});
    });
    return image;
}

TreePtr ScanFat(const std::string& image) {
    CImageFileDevice device(image.c_str());
    CNullDirBuildCallback build;
    CFATSearchedPartitionInfo part;
    part.m_u64KeptFirstSector = 0;
    part.m_u32EvidenceFlags = 0x3 | 0x3C0;
    return TreePtr(BuildFatFileTree(&build, &part, nullptr, &device, 1));
}

CFileNode* Child(CFileNode* folder, const std::string& name) {
    if (!folder)
        return nullptr;
    for (CFileNode* c = folder->m_pFirstChild; c; c = c->m_pNextSibling)
        if (c->m_pProperties && name == c->m_pProperties->GetName())
            return c;
    return nullptr;
}

CFileNode* AtPath(CFileNode* root, const std::string& path) {
    CFileNode* node = root;
    std::size_t at = 1;
    while (node && at <= path.size()) {
        const std::size_t slash = path.find('/', at);
        const std::string part = path.substr(at, slash == std::string::npos ? std::string::npos : slash - at);
        node = Child(node, part);
        if (slash == std::string::npos)
            break;
        at = slash + 1;
    }
    return node;
}

} // namespace viewtests

#ifdef BRULIN_VIEWS_WX_ENVIRONMENT
#include <wx/init.h>

namespace {

// wx's own start-up (its image handlers among others) for the whole test program.
class WxEnvironment : public testing::Environment {
public:
    void SetUp() override { ASSERT_TRUE(wxInitialize()); }
    void TearDown() override { wxUninitialize(); }
};

[[maybe_unused]] testing::Environment* const kWxEnvironment =
    testing::AddGlobalTestEnvironment(new WxEnvironment);

} // namespace
#endif
