// The found-partition list and the partition layout picture, as models: bands and blocks,
// suggestions, ticking, option boxes, and filling the list from partition records.
#include "ui/views/FoundPartitionList.h"
#include "ui/views/PartitionLayoutModel.h"

#include <gtest/gtest.h>

#include <fstream>
#include <limits>
#include <memory>

#include "filesystems/ext2/Ext2SearchController.h"
#include "filesystems/fat/FatSearchedPartitionInfo.h"
#include "filesystems/ntfs/NtfsSearchedPartitionInfo.h"
#include "tests/ui/views/ViewsFixtures.h"

namespace {

PartitionBlockDesc Block(std::uint64_t first, std::uint64_t last, double rank = 0.5, std::uint32_t fs = 3,
                         const char* name = "p") {
    PartitionBlockDesc d;
    d.name = name;
    d.fileSystem = fs;
    d.firstSector = first;
    d.lastSector = last;
    d.rank = rank;
    return d;
}

// Which band (index) holds each block, in the order the bands list them.
std::vector<std::vector<std::uint64_t>> BandFirsts(const CPartitionLayoutModel& m) {
    std::vector<std::vector<std::uint64_t>> out;
    for (const DiskBand& b : m.Bands()) {
        out.emplace_back();
        for (const PartitionBlock& p : b.blocks)
            out.back().push_back(p.desc.firstSector);
    }
    return out;
}

CPartitionLayoutModel Layout(std::uint64_t diskSectors, int width = 1000) {
    CPartitionLayoutModel m;
    m.SetCaption(LayoutSource{"disk", diskSectors, kLayoutSourceDisk});
    m.LayoutDisks(0, width);
    return m;
}

FoundPartitionRow Row(const char* name, std::uint64_t first, std::uint64_t count, double rank, std::uint32_t kind,
                      std::vector<PartitionOption> options = {}) {
    FoundPartitionRow r;
    r.name = name;
    r.fileSystem = 3;
    r.hasRange = true;
    r.firstSector = first;
    r.lastSector = first + count - 1;
    r.rank = rank;
    r.kind = kind;
    r.options = std::move(options);
    return r;
}

struct Recorder : IPartitionLayoutTarget {
    std::vector<std::pair<char, std::uint64_t>> calls;
    void AddPartition(const PartitionBlockDesc& b) override { calls.push_back({'+', b.firstSector}); }
    void RemovePartition(const PartitionBlockDesc& b) override { calls.push_back({'-', b.firstSector}); }
};

} // namespace

// ---- Layout picture ----

TEST(PartitionLayoutModel, BandsTakeBlocksThatDoNotOverlap) {
    struct Case {
        const char* what;
        std::vector<PartitionBlockDesc> blocks;
        std::vector<std::vector<std::uint64_t>> bands;
    };
    const Case cases[] = {
        {"sharing one sector: two bands", {Block(0, 100), Block(100, 200)}, {{0}, {100}}},
        {"touching: one band", {Block(0, 99), Block(100, 200)}, {{0, 100}}},
        {"third overlaps band 1 only: band 2",
         {Block(0, 499), Block(400, 599), Block(600, 700), Block(450, 550)},
         {{0, 600}, {400}, {450}}},
        {"third overlaps band 1 only and fits band 2", {Block(0, 499), Block(400, 599), Block(100, 199)},
         {{0}, {400, 100}}},
        {"same range twice", {Block(10, 20), Block(10, 20)}, {{10}, {10}}},
        {"one-sector blocks side by side", {Block(5, 5), Block(6, 6), Block(5, 5)}, {{5, 6}, {5}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CPartitionLayoutModel m = Layout(1000);
        for (const auto& b : c.blocks)
            m.Add(b);
        EXPECT_EQ(BandFirsts(m), c.bands);
        EXPECT_EQ(m.TotalHeight(), 80 * static_cast<int>(c.bands.size()));
        for (std::size_t i = 0; i < m.Bands().size(); ++i)
            EXPECT_EQ(m.Bands()[i].rect, (uigeo::Rect{0, 80 * static_cast<int>(i), 1000, 80 * static_cast<int>(i) + 80}));
    }
}

TEST(PartitionLayoutModel, RemovingBlocks) {
    CPartitionLayoutModel m = Layout(1000);
    EXPECT_TRUE(m.Add(Block(0, 499)));        // band 1
    EXPECT_TRUE(m.Add(Block(400, 599)));      // band 2
    EXPECT_FALSE(m.Add(Block(600, 700)));     // band 1 again
    EXPECT_TRUE(m.Add(Block(450, 460)));      // band 3
    ASSERT_EQ(m.Bands().size(), 3u);
    const int band3Top = m.Bands()[2].blocks[0].rect.top;

    // A rank that differs from every block: nothing goes.
    EXPECT_FALSE(m.Remove(Block(400, 599, 0.25)));
    EXPECT_EQ(m.BlockCount(), 4);
    // The name is not compared.
    // Removing the only block of band 2 removes the band; band 3 moves up by 80 pixels.
    EXPECT_TRUE(m.Remove(Block(400, 599, 0.5, 3, "another name")));
    EXPECT_EQ(BandFirsts(m), (std::vector<std::vector<std::uint64_t>>{{0, 600}, {450}}));
    EXPECT_EQ(m.Bands()[1].blocks[0].rect.top, band3Top - 80);
    // Removing one of several blocks keeps the band.
    EXPECT_FALSE(m.Remove(Block(600, 700)));
    EXPECT_EQ(BandFirsts(m), (std::vector<std::vector<std::uint64_t>>{{0}, {450}}));
    // A file system that differs: nothing goes.
    EXPECT_FALSE(m.Remove(Block(0, 499, 0.5, 2)));
    m.RemoveAllDisks();
    EXPECT_EQ(m.TotalHeight(), 0);
}

TEST(PartitionLayoutModel, BlockRectanglesAndParts) {
    struct Case {
        const char* what;
        std::uint64_t first, last, disk;
        uigeo::Rect rect;
        bool detailed;
    };
    const Case cases[] = {
        // x = sector / T x W, truncated; shrunk 3 pixels all round when 5 or more wide.
        {"first half", 0, 500, 1000, {3, 3, 497, 77}, true},
        {"4 pixels wide: full width", 100, 104, 1000, {100, 3, 104, 77}, false},
        {"5 pixels wide: shrunk to 1", 100, 105, 1000, {102, 3, 103, 77}, false},
        {"6 pixels wide: shrunk to 2", 100, 106, 1000, {102, 3, 104, 77}, false},
        {"12 pixels wide: title strip of 0", 100, 112, 1000, {103, 3, 109, 77}, false},
        {"17 pixels wide: a title strip of 3", 100, 117, 1000, {103, 3, 114, 77}, true},
        {"past the source's end: drawn at its end", 900, 5000, 1000, {903, 3, 997, 77}, true},
        {"unknown source size: the whole width", 10, 20, 0, {3, 3, 997, 77}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const uigeo::Rect r = CPartitionLayoutModel::PositionBlock(Block(c.first, c.last), {0, 0, 1000, 80}, c.disk);
        EXPECT_EQ(r, c.rect);
        EXPECT_EQ(CPartitionLayoutModel::BlockParts(r).detailed, c.detailed);
    }
    const PartitionBlockParts p = CPartitionLayoutModel::BlockParts({3, 3, 497, 77});
    EXPECT_EQ(p.titleStrip, (uigeo::Rect{7, 7, 493, 15}));
    EXPECT_EQ(p.body, (uigeo::Rect{7, 23, 493, 73}));
    EXPECT_EQ(p.icon, (uigeo::Rect{11, 23, 31, 45}));
    EXPECT_EQ(p.nameText, (uigeo::Rect{35, 27, 491, 43}));
    EXPECT_EQ(p.detailText, (uigeo::Rect{11, 45, 491, 71}));
    // A body narrower than the icon: the icon and the name start at its right edge.
    const PartitionBlockParts n = CPartitionLayoutModel::BlockParts({0, 0, 20, 74});
    EXPECT_TRUE(n.detailed);
    EXPECT_EQ(n.icon.right, n.body.right);
    EXPECT_EQ(n.nameText.left, n.body.right + 4);
}

TEST(PartitionLayoutModel, FrameCaptionPanelAndGeometry) {
    CPartitionLayoutModel m;
    EXPECT_EQ(m.PanelBitmap(), 0);
    struct Case {
        std::uint32_t type;
        const char* caption;
        int bitmap;
    };
    const Case cases[] = {
        {kLayoutSourceImage, "Partitions layout on the disk image \"src\":", 353},
        {kLayoutSourcePartition, "Partitions layout on the partition \"src\":", 212},
        {kLayoutSourceUsbDisk, "Partitions layout on the disk \"src\":", 358},
        {9, "Partitions layout on the disk \"src\":", 358}, // keeps the previous picture
        {kLayoutSourceDisk, "Partitions layout on the disk \"src\":", 211},
    };
    for (const Case& c : cases) {
        m.SetCaption(LayoutSource{"src", 4096, c.type});
        EXPECT_EQ(m.Caption(), c.caption);
        EXPECT_EQ(m.PanelBitmap(), c.bitmap);
    }
    EXPECT_EQ(m.PanelText(), "Size: 2.00 MB");
    EXPECT_EQ(m.DiskSectorCount(), 4096u);

    // No bands: H = 100, so the view is 80 high and the panel keeps 80.
    LayoutFrameGeometry g = m.FrameLayout(600, 300);
    EXPECT_EQ(g.view, uigeo::MakeRect(99, 19, 500, 80));
    EXPECT_EQ(g.panelHeight, 80);
    m.LayoutDisks(0, 500);
    m.Add(Block(0, 100));
    m.Add(Block(50, 60));
    m.Add(Block(55, 56));
    g = m.FrameLayout(600, 300);
    EXPECT_EQ(g.view, uigeo::MakeRect(99, 19, 500, 240));
    EXPECT_EQ(g.panelHeight, 240);
    // A frame lower than the bands: the view is cut at the frame.
    g = m.FrameLayout(600, 150);
    EXPECT_EQ(g.view.Height(), 130);
}

TEST(PartitionLayoutModel, DiskAboveTwoTebibytes) {
    // 6 TiB disk; a partition of 3 TiB starting at 2.5 TiB and one of 1 sector at its end.
    const std::uint64_t tib = std::uint64_t{1} << 31; // sectors per TiB
    CPartitionLayoutModel m;
    m.SetCaption(LayoutSource{"big", 6 * tib, kLayoutSourceDisk});
    EXPECT_EQ(m.PanelText(), "Size: 6144.00 GB");
    m.LayoutDisks(0, 600);
    const PartitionBlockDesc big = Block(5 * tib / 2, 5 * tib / 2 + 3 * tib - 1, 1.0, 3);
    m.Add(big);
    m.Add(Block(6 * tib - 1, 6 * tib - 1));
    ASSERT_EQ(m.Bands().size(), 1u);
    EXPECT_EQ(m.Bands()[0].sectorCount, 6 * tib);
    EXPECT_EQ(m.Bands()[0].blocks[0].rect.left, 250 + 3);
    EXPECT_EQ(m.Bands()[0].blocks[0].rect.right, 549 - 3); // 5.5 TiB - 1 sector -> 549.99
    EXPECT_EQ(CPartitionLayoutModel::BlockDetailText(big), "3072.00 GB, NTFS,\nRank: 100.00%");
    EXPECT_TRUE(m.Remove(big) == false);
    EXPECT_EQ(m.BlockCount(), 1);
}

// ---- Found-partition list ----

TEST(FoundPartitionList, Suggestions) {
    struct Case {
        double threshold, rank;
        const char* text;
    };
    const Case cases[] = {
        {0.0, 0.99, "Medium"},   {0.995, 0.99, "Low"},   {0.5, 0.991, "High"}, {0.5, 1.0, "High"},
        {0.4, 0.4, "Medium"},    {0.4, 0.3999, "Low"},   {0.0, 0.0, "Medium"}, {0.0, 0.5, "Medium"},
    };
    for (const Case& c : cases) {
        CFoundPartitionListModel list;
        list.SetMediumThreshold(c.threshold);
        EXPECT_EQ(list.FormatSuggestion(c.rank), c.text) << c.threshold << " " << c.rank;
    }
}

TEST(FoundPartitionList, AutoCheckLimitAndColours) {
    CModelFoundPartitionPane pane;
    CFoundPartitionListModel& list = pane.PartitionList();
    pane.ShowSource(LayoutSource{"disk", 100000, kLayoutSourceDisk});
    list.SetAutoCheckLimit(1);
    list.AddPartition(Row("A", 100, 50, 0.2, kPartitionKindOther));
    list.AddPartition(Row("B", 200, 50, 0.9, kPartitionKindBest));
    list.AddPartition(Row("C", 300, 50, 0.8, kPartitionKindBest));
    list.AddPartition(Row("D", 400, 50, 0.1, kPartitionKindPlain));
    EXPECT_EQ(list.RowCount(), 4);
    EXPECT_EQ(list.IsRowChecked(0), 0); // brown never starts ticked
    EXPECT_EQ(list.IsRowChecked(1), 1); // the first green one
    EXPECT_EQ(list.IsRowChecked(2), 0); // over the limit
    EXPECT_EQ(list.GetCheckedCount(), 1);
    // The ticked row's block is in the picture without any click.
    EXPECT_EQ(BandFirsts(pane.PartitionLayout()), (std::vector<std::vector<std::uint64_t>>{{200}}));
    EXPECT_EQ(list.Grid().Row(0)->cells[0].desc.textColour, (uires::Rgb{160, 109, 0}));
    EXPECT_EQ(list.Grid().Row(1)->cells[0].desc.textColour, (uires::Rgb{0, 160, 0}));
    EXPECT_EQ(list.Grid().Row(3)->cells[0].desc.textColour, (uires::Rgb{0, 0, 0}));
    // Cells: name with its box and icon, size (last - first + 1), suggestion, options, counts.
    const GridRow* r = list.Grid().Row(1);
    ASSERT_EQ(r->cells.size(), 6u);
    EXPECT_TRUE(r->cells[0].desc.items[0].hasCheckBox);
    EXPECT_EQ(r->cells[0].desc.items[0].icon, 0);
    EXPECT_EQ(r->cells[0].desc.items[0].text, "B");
    EXPECT_EQ(r->cells[1].desc.items[0].text, "25.00 KB");
    EXPECT_EQ(r->cells[3].desc.itemCount, 0u); // no options: an empty cell
    EXPECT_EQ(r->cells[4].desc.items[0].text, "0");

    // With the default limit of 4, all green rows up to four start ticked.
    CFoundPartitionListModel many;
    for (int i = 0; i < 6; ++i)
        many.AddPartition(Row("x", 1000u * static_cast<unsigned>(i), 10, 0.5, kPartitionKindBest));
    EXPECT_EQ(many.GetCheckedCount(), 4);
    EXPECT_EQ(many.IsRowChecked(4), 0);
}

TEST(FoundPartitionList, TogglingBoxes) {
    CFoundPartitionListModel list;
    Recorder layout;
    list.SetLayoutTarget(&layout);
    std::vector<PartitionOptionToggle> toggles;
    list.SetOptionNotify([&](const PartitionOptionToggle& t) { toggles.push_back(t); });
    list.AddPartition(Row("A", 100, 50, 0.2, kPartitionKindPlain, {{true, "FAT1"}, {false, "FAT2"}}));
    list.AddPartition(Row("B", 200, 50, 0.2, kPartitionKindPlain,
                          {{false, "1"}, {false, "2"}, {false, "3"}, {false, "4"}, {false, "5"}}));
    EXPECT_EQ(list.Grid().Row(0)->cells[3].desc.itemCount, 2u);
    EXPECT_TRUE(list.Grid().Row(0)->cells[3].desc.items[0].checked);
    EXPECT_EQ(list.Grid().Row(1)->cells[3].desc.itemCount, 4u); // at most four

    // The first box only changes the picture.
    EXPECT_TRUE(list.ToggleBox(1, 0, 0));
    EXPECT_TRUE(list.ToggleBox(1, 0, 0));
    EXPECT_TRUE(toggles.empty());
    EXPECT_EQ(layout.calls, (std::vector<std::pair<char, std::uint64_t>>{{'+', 200}, {'-', 200}}));
    // An option box tells the page: row, cell 3, box, state.
    EXPECT_TRUE(list.ToggleBox(0, 3, 1));
    ASSERT_EQ(toggles.size(), 1u);
    EXPECT_EQ(toggles[0].row, 0);
    EXPECT_EQ(toggles[0].cell, 3);
    EXPECT_EQ(toggles[0].box, 1);
    EXPECT_EQ(toggles[0].ticked, 1);
    EXPECT_EQ(layout.calls.size(), 2u);
    // No such boxes.
    EXPECT_FALSE(list.ToggleBox(0, 3, 2));
    EXPECT_FALSE(list.ToggleBox(0, 1, 0));
    EXPECT_FALSE(list.ToggleBox(5, 0, 0));
    // A click through the grid reaches the same place.
    list.Grid().LayoutAll([](const std::string& s) { return 7 * static_cast<int>(s.size()); });
    const uigeo::Rect box = list.Grid().Row(0)->cells[0].desc.items[0].checkRect;
    ASSERT_FALSE(box.IsEmpty());
    EXPECT_EQ(list.Grid().Click({box.left + 1, box.top + 1}), 0);
    EXPECT_EQ(list.IsRowChecked(0), 1);
    EXPECT_EQ(layout.calls.back(), (std::pair<char, std::uint64_t>{'+', 100}));

    // Out of range.
    EXPECT_EQ(list.GetPartitionAt(2), nullptr);
    EXPECT_EQ(list.GetPartitionAt(-1), nullptr);
    EXPECT_EQ(list.IsRowChecked(2), 0);
    list.OnCheckBoxChanged(1, 7, 0, 0); // ignored
    EXPECT_EQ(layout.calls.size(), 3u);
    list.DeleteAllPartitions();
    EXPECT_EQ(list.RowCount(), 0);
    EXPECT_EQ(list.Grid().RowCount(), 0);
}

// ---- Filling from partition records ----

namespace {

struct Records {
    std::vector<std::unique_ptr<CSearchedPartitionInfo>> owned;
    std::vector<CSearchedPartitionInfo*> list;
    template <class T> T* Add(std::uint32_t type, std::uint64_t first, std::uint64_t count, double score) {
        auto p = std::make_unique<T>();
        p->m_fileSystemType = type;
        p->m_u64FirstSector = first;
        p->m_u64KeptFirstSector = first;
        p->m_u32SectorCount = count;
        p->m_relativeScore = score;
        T* raw = p.get();
        list.push_back(raw);
        owned.push_back(std::move(p));
        return raw;
    }
};

} // namespace

TEST(FoundPartitionFill, RowsFromRecords) {
    Records rec;
    auto* fat = rec.Add<CFATSearchedPartitionInfo>(FILESYSTEM_FAT32, 3000, 1000, 0.5);
    fat->m_u64KeptFirstSector = 2048; // the boot sector; the first sector is the data area
    fat->m_u64EvidenceA = 7;
    fat->m_u64EvidenceB = 9;
    fat->m_u32EvidenceFlags = FATEVIDENCE_FIRST_FAT_SEEN | FATEVIDENCE_USE_FIRST_FAT | FATEVIDENCE_SECOND_FAT_SEEN;
    auto* ntfs = rec.Add<CSearchedNTFSPartitionInfo>(FILESYSTEM_NTFS, 3048, 500, 1.0);
    ntfs->SetSectorCount(500);
    ntfs->m_u64MftRecordSector = 4000;
    ntfs->m_u32MftOnly = 1;
    auto* ntfsNoMft = rec.Add<CSearchedNTFSPartitionInfo>(FILESYSTEM_NTFS, 9000, 100, 0.3);
    ntfsNoMft->SetSectorCount(100);
    rec.Add<CSearchedPartitionInfo>(FILESYSTEM_UNKNOWN, 5, 5, 0.1);
    auto* ext = rec.Add<CExt2SearchedPartitionInfo>(FILESYSTEM_EXT3, 20002, 64, 0.2);
    ext->m_u64KeptFirstSector = 20000;
    ext->m_u32Chosen = 2;

    const auto rows = BuildFoundPartitionRows(rec.list);
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_EQ(rows[0].name, "Partition 1 FAT32");
    EXPECT_EQ(rows[0].firstSector, 2048u);
    EXPECT_EQ(rows[0].lastSector, 2048u + 1000 - 1); // first + count - 1
    EXPECT_EQ(rows[0].SectorCount(), 1000u);
    EXPECT_EQ(rows[0].foldersMatch, 7u);
    EXPECT_EQ(rows[0].filesMatch, 9u);
    ASSERT_EQ(rows[0].options.size(), 2u);
    EXPECT_EQ(rows[0].options[0].text, "FAT1");
    EXPECT_TRUE(rows[0].options[0].ticked);
    EXPECT_EQ(rows[0].options[1].text, "FAT2");
    EXPECT_FALSE(rows[0].options[1].ticked);
    EXPECT_EQ(rows[1].name, "Partition 2 NTFS");
    ASSERT_EQ(rows[1].options.size(), 1u);
    EXPECT_EQ(rows[1].options[0].text, "$MFT Only");
    EXPECT_TRUE(rows[1].options[0].ticked);
    EXPECT_EQ(rows[1].lastSector, 3048u + 500 - 1);
    EXPECT_TRUE(rows[2].options.empty()); // $MFT sector unknown
    EXPECT_EQ(rows[3].name, "Partition 3 Unknown"); // not counted
    EXPECT_FALSE(rows[3].hasRange);
    EXPECT_EQ(CFoundPartitionListModel::SizeText(rows[3]), "");
    EXPECT_EQ(rows[4].name, "Partition 4 EXT3");
    EXPECT_EQ(rows[4].firstSector, 20000u);
    EXPECT_EQ(rows[4].lastSector, 20063u);
    EXPECT_EQ(rows[4].kind, 2u);

    // FAT ending at n and NTFS starting at n + 1 share a band.
    CModelFoundPartitionPane pane;
    pane.ShowSource(LayoutSource{"img", 30000, kLayoutSourceImage});
    FillPartitionList(pane, rec.list, 4);
    EXPECT_EQ(pane.PartitionList().GetCheckedCount(), 0);
    pane.PartitionList().ToggleBox(0, 0, 0);
    pane.PartitionList().ToggleBox(1, 0, 0);
    EXPECT_EQ(BandFirsts(pane.PartitionLayout()), (std::vector<std::vector<std::uint64_t>>{{2048, 3048}}));
    // The unknown row has no range: ticking it draws nothing.
    pane.PartitionList().ToggleBox(3, 0, 0);
    EXPECT_EQ(pane.PartitionLayout().BlockCount(), 2);
}

TEST(FoundPartitionFill, MarksThresholdAndLimits) {
    struct Case {
        std::vector<double> scores;
        double threshold;
        int best; // index marked 1, -1 none
    };
    const Case cases[] = {
        {{0.2, 0.6, 1.0}, 0.4, 2},
        {{1.0, 0.995}, 0.5, 0},      // none at most 0.99
        {{0.5, 0.5}, 0.5, 0},        // the first of equals
        {{0.0, 0.0}, 0.0, -1},       // no score above 0
        {{0.99}, 0.99, 0},
        {{}, 0.5, -1},
    };
    for (const Case& c : cases) {
        Records rec;
        for (double s : c.scores)
            rec.Add<CSearchedPartitionInfo>(FILESYSTEM_NTFS, 0, 10, s)->m_u32Chosen = 2;
        EXPECT_DOUBLE_EQ(ComputeMediumThreshold(rec.list), c.threshold);
        CModelFoundPartitionPane pane;
        FillPartitionList(pane, rec.list, 1);
        for (std::size_t i = 0; i < c.scores.size(); ++i) {
            EXPECT_EQ(rec.list[i]->m_u32Chosen, static_cast<int>(i) == c.best ? 1u : 0u);
            EXPECT_EQ(pane.PartitionList().IsRowChecked(static_cast<int>(i)), static_cast<int>(i) == c.best ? 1 : 0);
        }
        EXPECT_DOUBLE_EQ(pane.PartitionList().MediumThreshold(), c.threshold);
        EXPECT_EQ(pane.PartitionList().AutoCheckLimit(), 1u);
    }

    // At most 100 rows per family; the skipped ones still count for the running number.
    Records rec;
    for (int i = 0; i < 102; ++i)
        rec.Add<CFATSearchedPartitionInfo>(FILESYSTEM_FAT16, 100u * static_cast<unsigned>(i), 50, 0.5);
    rec.Add<CSearchedNTFSPartitionInfo>(FILESYSTEM_NTFS, 50000, 10, 0.5)->SetSectorCount(10);
    const auto rows = BuildFoundPartitionRows(rec.list);
    ASSERT_EQ(rows.size(), 101u);
    EXPECT_EQ(rows[99].name, "Partition 100 FAT16");
    EXPECT_EQ(rows[100].name, "Partition 103 NTFS");
}

TEST(FoundPartitionFill, OptionTogglesChangeThePartitionFlags) {
    Records rec;
    auto* both = rec.Add<CFATSearchedPartitionInfo>(FILESYSTEM_FAT16, 0, 10, 0.5);
    auto* second = rec.Add<CFATSearchedPartitionInfo>(FILESYSTEM_FAT16, 0, 10, 0.5);
    auto* ntfs = rec.Add<CSearchedNTFSPartitionInfo>(FILESYSTEM_NTFS, 0, 10, 0.5);
    auto* ntfsNoMft = rec.Add<CSearchedNTFSPartitionInfo>(FILESYSTEM_NTFS, 0, 10, 0.5);
    both->m_u32EvidenceFlags = FATEVIDENCE_FIRST_FAT_SEEN | FATEVIDENCE_SECOND_FAT_SEEN;
    second->m_u32EvidenceFlags = FATEVIDENCE_SECOND_FAT_SEEN;
    ntfs->m_u64MftRecordSector = 64;
    struct Case {
        CSearchedPartitionInfo* p;
        PartitionOptionToggle t;
        bool changed;
        std::uint32_t fatFlags; // expected after, for FAT
        std::uint32_t mftOnly;  // expected after, for NTFS
    };
    const Case cases[] = {
        {both, {0, 3, 0, 1}, true, 0x140 | 0x080, 0},
        {both, {0, 3, 1, 1}, true, 0x140 | 0x080 | 0x200, 0},
        {both, {0, 3, 0, 0}, true, 0x140 | 0x200, 0},
        {both, {0, 2, 0, 1}, false, 0x140 | 0x200, 0}, // not the option cell
        {both, {0, 3, 2, 1}, false, 0x140 | 0x200, 0}, // box 2
        {second, {0, 3, 0, 1}, true, 0x100 | 0x200, 0}, // box 0 is "FAT2" without a first copy
        {ntfs, {0, 3, 0, 1}, true, 0, 1},
        {ntfs, {0, 3, 1, 0}, false, 0, 1},
        {ntfsNoMft, {0, 3, 0, 1}, false, 0, 0},
        {nullptr, {0, 3, 0, 1}, false, 0, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ApplyPartitionOptionToggle(c.p, c.t), c.changed);
        if (c.p && c.p->GetKind() == SEARCHED_PARTITION_FAT) {
            EXPECT_EQ(static_cast<CFATSearchedPartitionInfo*>(c.p)->m_u32EvidenceFlags, c.fatFlags);
        }
        if (c.p && c.p->GetKind() == SEARCHED_PARTITION_NTFS) {
            EXPECT_EQ(static_cast<CSearchedNTFSPartitionInfo*>(c.p)->m_u32MftOnly, c.mftOnly);
        }
    }
}

TEST(FoundPartitionFill, RealFatBootSectorAndLargePartitions) {
    // The record a FAT quick scan makes of a volume made by mkfs.fat: its row spans exactly
    // the volume's sectors.
    const std::string& image = viewtests::FatPictureImage();
    ASSERT_FALSE(image.empty());
    std::ifstream in(image, std::ios::binary);
    std::uint8_t boot[512] = {};
    in.read(reinterpret_cast<char*>(boot), sizeof boot);
    in.seekg(0, std::ios::end);
    const std::uint64_t imageSectors = static_cast<std::uint64_t>(in.tellg()) / 512;
    CFATSearchedPartitionInfo fat;
    ASSERT_TRUE(InitFATSearchedPartitionInfo(fat, boot, sizeof boot, 0));
    fat.m_relativeScore = 1.0;
    Records rec;
    rec.list.push_back(&fat);
    // An NTFS partition of 3 TiB after it, on a disk of more than 2 TiB.
    const std::uint64_t big = std::uint64_t{3} << 31;
    rec.Add<CSearchedNTFSPartitionInfo>(FILESYSTEM_NTFS, imageSectors, 0, 0.4)->SetSectorCount(big);
    const auto rows = BuildFoundPartitionRows(rec.list);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].firstSector, 0u);
    EXPECT_EQ(rows[0].SectorCount(), imageSectors);
    EXPECT_EQ(rows[0].options.size(), 2u); // a sound volume: both FAT copies, both ticked
    EXPECT_TRUE(rows[0].options[0].ticked && rows[0].options[1].ticked);
    EXPECT_EQ(rows[1].lastSector, imageSectors + big - 1);
    EXPECT_EQ(CFoundPartitionListModel::SizeText(rows[1]), "3072.00 GB");

    CModelFoundPartitionPane pane;
    pane.ShowSource(LayoutSource{"big disk", imageSectors + big, kLayoutSourceDisk});
    pane.PartitionLayout().LayoutDisks(0, 800);
    FillPartitionList(pane, rec.list, 1);
    EXPECT_EQ(pane.PartitionList().IsRowChecked(0), 1);
    pane.PartitionList().ToggleBox(1, 0, 0);
    ASSERT_EQ(pane.PartitionLayout().Bands().size(), 1u); // touching, not sharing
    const auto& blocks = pane.PartitionLayout().Bands()[0].blocks;
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(blocks[1].rect.right, 800 - 3 - 1); // last sector is one before the disk's end
    EXPECT_EQ(pane.PartitionList().Grid().Row(1)->cells[2].desc.items[0].text, "Medium");
}

TEST(FoundPartitionList, RecordsFromADamagedStateFile) {
    // A score that is no number ranks as 0 (so its block is found again when unticked); a range
    // that ends before it starts is no range.
    CModelFoundPartitionPane pane;
    pane.ShowSource(LayoutSource{"disk", 1000, kLayoutSourceDisk});
    FoundPartitionRow nan = Row("nan", 10, 10, std::numeric_limits<double>::quiet_NaN(), kPartitionKindBest);
    FoundPartitionRow reversed = Row("reversed", 500, 10, 0.5, kPartitionKindBest);
    reversed.lastSector = 100;
    CFoundPartitionListModel& list = pane.PartitionList();
    list.AddPartition(nan);
    list.AddPartition(reversed);
    EXPECT_EQ(list.Record(0)->rank, 0.0);
    EXPECT_EQ(list.FormatSuggestion(list.Record(0)->rank), "Medium");
    EXPECT_FALSE(list.Record(1)->hasRange);
    EXPECT_EQ(list.Grid().Row(1)->cells[1].desc.items[0].text, "");
    EXPECT_EQ(pane.PartitionLayout().BlockCount(), 1); // both ticked, only one has a block
    list.ToggleBox(0, 0, 0);
    list.ToggleBox(1, 0, 0);
    EXPECT_EQ(pane.PartitionLayout().BlockCount(), 0);
}
